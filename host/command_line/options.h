// The command line of kelo-host.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The .cube lattice's points along each axis.
constexpr int kDefaultCubeSize = 33;
constexpr int kMaxCubeSize = 65;

struct Options {
    std::string input;   // empty: the built-in chart; "-": standard input
    std::string output;  // empty: the default name; "-": standard output
    std::string plugin;  // empty: kelo.auf beside the program
    std::vector<std::string> settings;  // NAME=VALUE, in order
    std::vector<std::string> settingsFiles;  // read in order, before every --set
    std::string saveSettings;                // empty: none written
    std::string cube;                        // empty: no LUT
    int cubeSize = 0;                        // 0: the default size
    bool preview = false;
    int port = 0;                            // 0: a free one
    std::string compare;                // empty: no before/after picture
    std::string scopes;                 // empty: no scopes picture
    int maxWidth = 0;                   // 0: the picture's width + 64
    int firstFrame = 0;                 // --frames FIRST:COUNT
    int frameCount = 0;                 // 0: every frame
    int jobs = 0;                       // 0: the default for the machine
    bool describe = false;
    bool probe = false;
    bool stats = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Throws UsageError for unknown options, missing or malformed values and
// extra arguments.
Options ParseOptions(const std::vector<std::string>& arguments);

// The program's arguments in UTF-8, whatever the system's narrow encoding.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

extern const char kUsage[];
