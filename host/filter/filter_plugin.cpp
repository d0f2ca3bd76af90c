#include "host/filter/filter_plugin.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "host/filter/codepage.h"

#ifdef _WIN32
#include "host/files/utf8_path.h"
#include "host/filter/pe_imports.h"
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

typedef FILTER_DLL*(__cdecl* GetFilterTableFn)();

// More entries than any settings window could show mean a broken table.
constexpr int32_t kMaxTableEntries = 256;

std::string NameAt(const char* const* names, int32_t index, const char* table) {
    if (!names[index]) {
        throw PluginError(std::string("the descriptor's ") + table + " " + std::to_string(index) + " has no name");
    }
    return Cp932ToUtf8(names[index]);
}

// Columns are as wide as characters, not UTF-8 bytes, count.
size_t CharacterCount(const std::string& text) {
    return size_t(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string PadRight(const std::string& text, size_t width) {
    const size_t characters = CharacterCount(text);
    return text + std::string(width > characters ? width - characters : 0, ' ');
}

std::string ValidSettings(const FilterDescription& description) {
    std::string text = "valid settings:";
    for (const auto& track : description.tracks) {
        text += "\n  " + track.name + "=" + std::to_string(track.minimum) + ".." + std::to_string(track.maximum);
    }
    for (const auto& check : description.checks) text += "\n  " + check.name + "=0|1";
    return text;
}

// Spaces and tabs around a name or a value, and a line end's carriage return,
// belong to neither: one rule for --set, settings files and the preview.
std::string TrimmedSpace(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

FilterDescription DescribeFilter(const FILTER_DLL& descriptor) {
    FilterDescription description;
    if (descriptor.track_n < 0 || descriptor.track_n > kMaxTableEntries || descriptor.check_n < 0 ||
        descriptor.check_n > kMaxTableEntries) {
        throw PluginError("the descriptor declares " + std::to_string(descriptor.track_n) + " track bars and " +
                          std::to_string(descriptor.check_n) + " check boxes");
    }
    if (descriptor.track_n > 0 &&
        (!descriptor.track_name || !descriptor.track_default || !descriptor.track_s || !descriptor.track_e)) {
        throw PluginError("the descriptor's track bar tables are missing");
    }
    if (descriptor.check_n > 0 && (!descriptor.check_name || !descriptor.check_default)) {
        throw PluginError("the descriptor's check box tables are missing");
    }
    description.name = descriptor.name ? Cp932ToUtf8(descriptor.name) : std::string();
    if ((descriptor.flag & FILTER_FLAG_EX_INFORMATION) && descriptor.information) {
        description.information = Cp932ToUtf8(descriptor.information);
    }
    for (int32_t i = 0; i < descriptor.track_n; ++i) {
        FilterDescription::Track track{NameAt(descriptor.track_name, i, "track bar"), descriptor.track_s[i],
                                       descriptor.track_e[i], descriptor.track_default[i]};
        if (track.minimum > track.maximum) {
            throw PluginError("the descriptor's track bar \"" + track.name + "\" has an empty range");
        }
        description.tracks.push_back(track);
    }
    for (int32_t i = 0; i < descriptor.check_n; ++i) {
        description.checks.push_back({NameAt(descriptor.check_name, i, "check box"), descriptor.check_default[i]});
    }
    return description;
}

std::string FormatDescription(const FilterDescription& description) {
    size_t nameWidth = 0;
    for (const auto& track : description.tracks) nameWidth = std::max(nameWidth, CharacterCount(track.name));
    for (const auto& check : description.checks) nameWidth = std::max(nameWidth, CharacterCount(check.name));
    std::string text = description.name + "\n";
    if (!description.information.empty()) text += "  " + description.information + "\n";
    text += "track bars (" + std::to_string(description.tracks.size()) + "):\n";
    for (const auto& track : description.tracks) {
        char range[64];
        std::snprintf(range, sizeof range, "%6d .. %-6d  default %d", track.minimum, track.maximum, track.initial);
        text += "  " + PadRight(track.name, nameWidth) + "  " + range + "\n";
    }
    text += "check boxes (" + std::to_string(description.checks.size()) + "):\n";
    for (const auto& check : description.checks) {
        text += "  " + PadRight(check.name, nameWidth) + "  " + (check.initial ? "on" : "off") + " by default\n";
    }
    return text;
}

void Describe(const FilterDescription& description) { std::fputs(FormatDescription(description).c_str(), stdout); }

FilterSettings DefaultSettings(const FilterDescription& description) {
    FilterSettings settings;
    for (const auto& track : description.tracks) settings.track.push_back(track.initial);
    for (const auto& check : description.checks) settings.check.push_back(check.initial ? 1 : 0);
    return settings;
}

void ApplySetting(const FilterDescription& description, const std::string& assignment, FilterSettings& settings,
                  const std::string& origin) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        throw SettingError(origin + assignment + ": expected NAME=VALUE\n" + ValidSettings(description));
    }
    // The name ends at the first '=', unless a setting's own name holds one,
    // so "R(gain)=5=6" is R(gain) given "5=6".
    const auto isName = [&](const std::string& candidate) {
        return std::any_of(description.tracks.begin(), description.tracks.end(),
                           [&](const auto& track) { return track.name == candidate; }) ||
               std::any_of(description.checks.begin(), description.checks.end(),
                           [&](const auto& check) { return check.name == candidate; });
    };
    for (size_t later = equals; later != std::string::npos; later = assignment.find('=', later + 1)) {
        if (isName(TrimmedSpace(assignment.substr(0, later)))) {
            equals = later;
            break;
        }
    }
    const std::string name = TrimmedSpace(assignment.substr(0, equals));
    const std::string valueText = TrimmedSpace(assignment.substr(equals + 1));
    int32_t value = 0;
    auto [end, ec] = std::from_chars(valueText.data(), valueText.data() + valueText.size(), value);
    const bool isInteger = !valueText.empty() && ec == std::errc() && end == valueText.data() + valueText.size();
    for (size_t i = 0; i < description.tracks.size(); ++i) {
        const auto& track = description.tracks[i];
        if (track.name != name) continue;
        if (!isInteger || value < track.minimum || value > track.maximum) {
            throw SettingError(origin + assignment + ": \"" + name + "\" takes an integer from " +
                               std::to_string(track.minimum) + " to " + std::to_string(track.maximum) + "\n" +
                               ValidSettings(description));
        }
        settings.track[i] = value;
        return;
    }
    for (size_t i = 0; i < description.checks.size(); ++i) {
        if (description.checks[i].name != name) continue;
        if (!isInteger || (value != 0 && value != 1)) {
            throw SettingError(origin + assignment + ": \"" + name + "\" takes 0 or 1\n" +
                               ValidSettings(description));
        }
        settings.check[i] = value;
        return;
    }
    throw SettingError(origin + assignment + ": the filter has no setting \"" + name + "\"\n" +
                       ValidSettings(description));
}

#ifdef _WIN32

namespace {

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", length);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return Utf8String(std::filesystem::path(message));
}

// Why the loader refused the library, naming the libraries it imports that
// cannot be loaded themselves (a missing d3dx9_30.dll, most often): the
// system's message says only that "a module" was not found.
std::string LoadFailure(const std::wstring& path, DWORD error) {
    std::string text = "cannot load (error " + std::to_string(error);
    const std::string message = SystemMessage(error);
    text += message.empty() ? ")" : ": " + message + ")";
    if (error != ERROR_MOD_NOT_FOUND && error != ERROR_PROC_NOT_FOUND) return text;
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!image) return text;
    std::string missing;
    for (const std::string& name : ImportedLibraries(image)) {
        HMODULE library = LoadLibraryA(name.c_str());
        if (library) FreeLibrary(library);
        else missing += (missing.empty() ? "" : ", ") + name + " (error " + std::to_string(GetLastError()) + ")";
    }
    FreeLibrary(image);
    if (!missing.empty()) text += "; it needs " + missing + ", which cannot be loaded";
    return text;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
    const std::wstring widePath = Utf8Path(path).wstring();
    HMODULE module = LoadLibraryW(widePath.c_str());
    if (!module) throw PluginError(path + ": " + LoadFailure(widePath, GetLastError()));
    module_ = module;
    // FARPROC stands for any export; the cast through void (*)() says so.
    auto getFilterTable =
        reinterpret_cast<GetFilterTableFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetFilterTable")));
    if (!getFilterTable) {
        FreeLibrary(module);
        throw PluginError(path + ": exports no GetFilterTable");
    }
    descriptor_ = getFilterTable();
    if (!descriptor_) {
        FreeLibrary(module);
        throw PluginError(path + ": GetFilterTable returned no descriptor");
    }
}

PluginLibrary::~PluginLibrary() { FreeLibrary(static_cast<HMODULE>(module_)); }

#else

PluginLibrary::PluginLibrary(const std::string& path) {
    // The loader would wait on a FIFO for a writer, where no stop can end
    // the wait, and then could not map it: only a file is a library.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    if (fd >= 0 && fstat(fd, &status) == 0 && !S_ISREG(status.st_mode)) {
        close(fd);
        throw PluginError("cannot load the plug-in: " + path + ": not a regular file");
    }
    if (fd >= 0) close(fd);
    module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module_) throw PluginError(std::string("cannot load the plug-in: ") + dlerror());
    auto getFilterTable = reinterpret_cast<GetFilterTableFn>(dlsym(module_, "GetFilterTable"));
    if (!getFilterTable) {
        dlclose(module_);
        throw PluginError(path + ": exports no GetFilterTable");
    }
    descriptor_ = getFilterTable();
    if (!descriptor_) {
        dlclose(module_);
        throw PluginError(path + ": GetFilterTable returned no descriptor");
    }
}

PluginLibrary::~PluginLibrary() { dlclose(module_); }

#endif

RunningFilter::RunningFilter(const FILTER_DLL& descriptor, FilterSettings settings)
    : filter_(descriptor), settings_(std::move(settings)) {
#ifdef _WIN32
    // The device needs a real window to focus on; the settings window is
    // never shown.
    window_ = CreateWindowExW(0, L"STATIC", L"kelo-host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ownsWindow_ = window_ != nullptr;
    // Without a window station (a service, Wine without a display) the
    // desktop stands in.
    if (!window_) window_ = GetDesktopWindow();
#else
    // No windows here: any non-null handle stands for the settings window.
    static char settingsWindow;
    window_ = reinterpret_cast<HWND>(&settingsWindow);
#endif
    filter_.track = settings_.track.empty() ? nullptr : settings_.track.data();
    filter_.check = settings_.check.empty() ? nullptr : settings_.check.data();
    filter_.hwnd = window_;
}

RunningFilter::~RunningFilter() {
    if (initCalled_ && !exitCalled_) Exit();
#ifdef _WIN32
    if (ownsWindow_) DestroyWindow(window_);
#endif
}

bool RunningFilter::Init() {
    initCalled_ = true;
    return !filter_.func_init || filter_.func_init(&filter_);
}

bool RunningFilter::Exit() {
    exitCalled_ = true;
    return !filter_.func_exit || filter_.func_exit(&filter_);
}

bool RunningFilter::Process(YcFrame& frame, YcFrame& temp, int index, int count) {
    PIXEL_YC* answer =
        Process(frame.pixels.data(), temp.pixels.data(), frame.width, frame.height, frame.pitch, index, count);
    if (!answer) return false;
    // The pictures trade places; what the frame carries besides stays.
    if (answer == temp.pixels.data()) frame.pixels.swap(temp.pixels);
    return true;
}

PIXEL_YC* RunningFilter::Process(PIXEL_YC* edit, PIXEL_YC* temp, int width, int height, int pitch, int index,
                                 int count) {
    if (!filter_.func_proc) return edit;
    FILTER_PROC_INFO info{};
    info.ycp_edit = edit;
    info.ycp_temp = temp;
    info.w = width;
    info.h = height;
    info.max_w = pitch;
    info.max_h = height;
    info.frame = index;
    info.frame_n = count;
    if (!filter_.func_proc(&filter_, &info)) return nullptr;
    return info.ycp_edit == temp ? temp : edit;
}

void RunningFilter::Change(const FilterSettings& settings) {
    // The record keeps pointing at the same arrays.
    std::copy(settings.track.begin(), settings.track.end(), settings_.track.begin());
    std::copy(settings.check.begin(), settings.check.end(), settings_.check.begin());
}
