// A filter plug-in loaded and driven the way the real host does it: the
// library's GetFilterTable, the descriptor read through the host's record
// layout, and the three callbacks.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/picture/picture.h"
#include "plugin/filter.h"

// The library cannot be loaded or its descriptor cannot be used.
struct PluginError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A setting given by the user that the descriptor does not allow.
struct SettingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The descriptor with its names in UTF-8.
struct FilterDescription {
    struct Track {
        std::string name;
        int32_t minimum, maximum, initial;
    };
    struct Check {
        std::string name;
        int32_t initial;
    };
    std::string name;
    std::string information;  // empty when the descriptor has none
    std::vector<Track> tracks;
    std::vector<Check> checks;
};

// Reads the descriptor, refusing one whose tables are missing or absurd.
FilterDescription DescribeFilter(const FILTER_DLL& descriptor);
// The settings window the descriptor describes, as text.
std::string FormatDescription(const FilterDescription& description);
// kelo-host --describe: that text on standard output.
void Describe(const FilterDescription& description);

struct FilterSettings {
    std::vector<int32_t> track;
    std::vector<int32_t> check;
};

FilterSettings DefaultSettings(const FilterDescription& description);
// Applies "NAME=VALUE" to a track bar (a value in its range) or a check box
// (0 or 1); the message of a refusal starts with `origin` and the assignment
// and lists the valid names and values.
void ApplySetting(const FilterDescription& description, const std::string& assignment, FilterSettings& settings,
                  const std::string& origin = "--set ");

class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& path);
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    ~PluginLibrary();

    const FILTER_DLL& descriptor() const { return *descriptor_; }
    // The loaded library: an HMODULE on Windows, dlopen's handle elsewhere.
    void* module() const { return module_; }

private:
    void* module_ = nullptr;
    const FILTER_DLL* descriptor_ = nullptr;
};

// The filter between FilterInit and FilterExit, with the host's FILTER record.
class RunningFilter {
public:
    RunningFilter(const FILTER_DLL& descriptor, FilterSettings settings);
    RunningFilter(const RunningFilter&) = delete;
    RunningFilter& operator=(const RunningFilter&) = delete;
    // Calls FilterExit once FilterInit was called, whatever it returned,
    // unless Exit was called.
    ~RunningFilter();

    bool Init();
    // Calls FilterExit (true when the plug-in has none); may be called again.
    bool Exit();
    // Runs FilterProc over `frame`. A plug-in may answer in the second
    // buffer by swapping the two pointers; the frames are swapped to match.
    bool Process(YcFrame& frame, YcFrame& temp, int index, int count);
    // The same over bare rows of `pitch` pixels: returns the buffer that
    // holds the answer (`edit` or `temp`), or null when FilterProc failed.
    PIXEL_YC* Process(PIXEL_YC* edit, PIXEL_YC* temp, int width, int height, int pitch, int index, int count);
    // New values for the track bars and check boxes, as a user's moves in
    // the settings window would leave them; the sizes stay the descriptor's.
    void Change(const FilterSettings& settings);

private:
    FILTER filter_;
    FilterSettings settings_;
    HWND window_ = nullptr;
    bool ownsWindow_ = false;
    bool initCalled_ = false;
    bool exitCalled_ = false;
};
