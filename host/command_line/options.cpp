#include "host/command_line/options.h"

#include <charconv>
#include <set>

#include "host/files/utf8_path.h"
#include "host/filter/probe.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

const char kUsage[] =
    "usage: kelo-host [options] [INPUT [OUTPUT]]\n"
    "  INPUT    .y4m or .png file, or - for standard input; none: the built-in test chart\n"
    "  OUTPUT   .y4m or .png, chosen by extension; - writes standard output in the input's format;\n"
    "           default: kelo-out.png (chart or PNG input) or kelo-out.y4m\n"
    "  --plugin PATH        the plug-in (default: kelo.auf beside this program)\n"
    "  --set NAME=VALUE     a track bar (integer in its range) or check box (0 or 1) by its name;\n"
    "                       repeatable\n"
    "  --settings FILE      read NAME=VALUE lines ('#' starts a comment); every --set overrides them\n"
    "  --save-settings FILE write the settings in effect to FILE, and no frames\n"
    "  --cube FILE.cube     write the correction as a 3D LUT (.cube), and no frames\n"
    "  --cube-size N        the LUT's points along each axis, 2 to 65 (default 33)\n"
    "  --preview            serve a live settings page on 127.0.0.1 and print its URL; Ctrl-C ends it\n"
    "  --port N             the preview's port (default: a free one)\n"
    "  --describe           print the plug-in's settings and exit\n"
    "  --probe              Windows build: one padded frame through the plug-in, run in the current\n"
    "                       directory; prints its results, reports and changes as a record\n"
    "  --compare FILE.png   write the first frame before and after, side by side\n"
    "  --scopes FILE.png    write the scopes of the first frame before and after (waveform,\n"
    "                       R'G'B' parade, vectorscope, histograms) on the YC scale\n"
    "  --max-w N            the row length of the host's frame buffer (default: width + 64)\n"
    "  --frames FIRST:COUNT only COUNT frames of a Y4M input from frame FIRST (from 0), fewer where\n"
    "                       it ends; its output is a Y4M of those frames\n"
    "  --jobs N             N plug-ins in N processes, frames handed round in order (default: several\n"
    "                       on a software device, 1 on a graphics card)\n"
    "  --stats              print the time of each stage and the frame rate at the end\n"
    "  --quiet              no progress or notes on standard error\n"
    "  -h, --help           this text\n"
    "  --version            the program's version\n"
    "A regular output file is replaced only when complete; a Y4M output that stops early keeps\n"
    "its whole frames in OUTPUT.partial. An output that is the input file is refused.\n"
    "exit status: 0 done; 1 usage, input or output error; 2 the plug-in failed;\n"
    "128 + the signal when stopped by SIGINT or SIGTERM\n";

namespace {

// The longest row the host offers, matching the largest picture it reads.
constexpr int kMaxRowLength = 16384 + 4096;
// Each job holds a plug-in, its device and frames of its own.
constexpr int kMaxJobs = 64;

bool ParseCount(const std::string& text, int minimum, int& number) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    return ec == std::errc() && end == text.data() + text.size() && number >= minimum;
}

// The options that take one value (--set and --settings add up instead).
const std::set<std::string> kSingleValued = {"--plugin", "--save-settings", "--cube", "--cube-size", "--port",
                                             "--compare", "--scopes", "--max-w", "--frames", "--jobs"};

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options;
    std::vector<std::string> positional;
    // Every option given and positional file, in order, for the modes that
    // take nothing else.
    std::vector<std::string> given;
    std::set<std::string> singleValued;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        const bool isOption = !optionsEnded && argument.size() > 1 && argument[0] == '-';
        if (!isOption) {
            if (argument.empty()) throw UsageError("empty file name");
            positional.push_back(argument);
            given.push_back(argument);
            continue;
        }
        if (argument == "-h") {
            options.help = true;
            given.push_back(argument);
            continue;
        }
        if (argument.compare(0, 2, "--") != 0) throw UsageError("unknown option " + argument);
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" and "--name value" are the same.
        std::string value;
        bool hasValue = false;
        if (size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
            hasValue = true;
        }
        if (argument != "--") given.push_back(argument);
        // A second value would silently replace the first.
        if (kSingleValued.count(argument) && !singleValued.insert(argument).second) {
            throw UsageError(argument + " is given twice; it takes one value");
        }
        const auto takeValue = [&]() {
            if (!hasValue && i + 1 < arguments.size()) value = arguments[++i];
            else if (!hasValue) value.clear();
            if (value.empty()) throw UsageError(argument + " needs a value");
            return value;
        };
        const auto noValue = [&](bool& flag) {
            if (hasValue) throw UsageError(argument + " takes no value");
            flag = true;
        };
        const auto takeInteger = [&](int minimum, int maximum, const char* what) {
            const std::string text = takeValue();
            int number = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
            if (ec != std::errc() || end != text.data() + text.size() || number < minimum || number > maximum) {
                throw UsageError(argument + " " + text + ": expected " + what + " from " + std::to_string(minimum) +
                                 " to " + std::to_string(maximum));
            }
            return number;
        };
        if (argument == "--set") options.settings.push_back(takeValue());
        else if (argument == "--settings") options.settingsFiles.push_back(takeValue());
        else if (argument == "--plugin") options.plugin = takeValue();
        else if (argument == "--save-settings") options.saveSettings = takeValue();
        else if (argument == "--cube") options.cube = takeValue();
        else if (argument == "--cube-size") options.cubeSize = takeInteger(2, kMaxCubeSize, "a size");
        else if (argument == "--port") options.port = takeInteger(1, 65535, "a port");
        else if (argument == "--compare") options.compare = takeValue();
        else if (argument == "--scopes") options.scopes = takeValue();
        else if (argument == "--max-w") {
            options.maxWidth = takeInteger(1, kMaxRowLength, "a row length");
        } else if (argument == "--frames") {
            const std::string range = takeValue();
            const size_t colon = range.find(':');
            if (colon == std::string::npos || !ParseCount(range.substr(0, colon), 0, options.firstFrame) ||
                !ParseCount(range.substr(colon + 1), 1, options.frameCount)) {
                throw UsageError("--frames " + range +
                                 ": expected FIRST:COUNT, a frame number from 0 and a count from 1");
            }
        } else if (argument == "--jobs") {
            options.jobs = takeInteger(1, kMaxJobs, "a number of jobs");
        } else if (argument == "--describe") noValue(options.describe);
        else if (argument == "--probe") noValue(options.probe);
        else if (argument == "--preview") noValue(options.preview);
        else if (argument == "--stats") noValue(options.stats);
        else if (argument == "--quiet") noValue(options.quiet);
        else if (argument == "--help") noValue(options.help);
        else if (argument == "--version") noValue(options.version);
        else throw UsageError("unknown option " + argument);
    }
    // These print and exit: anything else on the line would be ignored.
    for (const std::string& argument : given) {
        if (options.version && argument != "--version") {
            throw UsageError("--version takes nothing else: drop " + argument);
        }
        if (options.describe && argument != "--describe" && argument != "--plugin") {
            throw UsageError("--describe takes only --plugin: drop " + argument);
        }
    }
    if (positional.size() > 2) throw UsageError("too many arguments: " + positional[2]);
    if (positional.size() > 0) options.input = positional[0];
    if (positional.size() > 1) options.output = positional[1];
    if (options.cubeSize && options.cube.empty()) throw UsageError("--cube-size needs --cube");
    if (options.port && !options.preview) throw UsageError("--port needs --preview");
    const bool writesNoFrames = !options.cube.empty() || !options.saveSettings.empty();
    if (writesNoFrames && options.preview) {
        throw UsageError("--preview saves from its page; drop --cube and --save-settings");
    }
    if (writesNoFrames && (!positional.empty() || !options.compare.empty() || !options.scopes.empty() ||
                           options.maxWidth)) {
        const std::string extra = !positional.empty()         ? positional[0]
                                  : !options.compare.empty() ? "--compare"
                                  : !options.scopes.empty()  ? "--scopes"
                                                             : "--max-w";
        throw UsageError("--cube and --save-settings write no frames: drop " + extra +
                         " (no INPUT, OUTPUT, --compare, --scopes or --max-w with them)");
    }
    if (options.frameCount && (writesNoFrames || options.preview)) {
        throw UsageError("--frames chooses frames to write: not with --preview, --cube or --save-settings");
    }
    if (options.jobs && (writesNoFrames || options.preview)) {
        throw UsageError(
            "--jobs runs frames through several plug-ins: the preview, --cube and --save-settings use one");
    }
    if (options.preview && (positional.size() > 1 || !options.compare.empty() || !options.scopes.empty())) {
        throw UsageError("--preview shows its pictures in the browser: no OUTPUT, --compare or --scopes with it");
    }
    if (options.probe && options.maxWidth && options.maxWidth < kProbeWidth) {
        throw UsageError("--max-w " + std::to_string(options.maxWidth) + " is shorter than the probe frame's width " +
                         std::to_string(kProbeWidth));
    }
    return options;
}

std::vector<std::string> CommandLineArguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf8String(std::filesystem::path(wide[i])));
    LocalFree(wide);
    return arguments;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}
