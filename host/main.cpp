// kelo-host: runs a filter plug-in over pictures and video the way the
// editor would, without the editor.
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "host/filter_plugin.h"
#include "host/frame_files.h"
#include "host/options.h"
#include "host/pipeline.h"
#include "host/probe.h"
#include "host/stage_times.h"
#include "host/utf8_path.h"

#ifdef _WIN32
#include <io.h>
#include <shellapi.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The real host's frame buffer is larger than the picture; so is this one's.
constexpr int kRowPadding = 64;

// Exit statuses.
constexpr int kDone = 0;
constexpr int kUsageOrIoFailure = 1;
constexpr int kPluginFailure = 2;

void Note(const Options& options, const std::string& text) {
    if (!options.quiet) std::fprintf(stderr, "kelo-host: %s\n", text.c_str());
}

fs::path ProgramDirectory() {
#ifdef _WIN32
    wchar_t buffer[32768];
    DWORD length = GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    return fs::path(std::wstring(buffer, length)).parent_path();
#else
    return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

// A user's path made independent of the current directory, which the
// plug-in's run changes.
std::string Resolved(const std::string& path) {
    return path.empty() || path == "-" ? path : Utf8String(fs::absolute(Utf8Path(path)));
}

// Frames done and the rate, on a terminal only, for more than a few frames.
class Progress {
public:
    explicit Progress(bool enabled) : enabled_(enabled && isatty(fileno(stderr))) {}

    void FrameDone(int done, int total) {
        constexpr int kFewFrames = 5;
        if (!enabled_ || done <= kFewFrames || SecondsSince(lastShown_) < 0.25) return;
        Show(done, total);
    }

    // Shows the final count where progress was shown at all.
    void Finish(int done, int total) {
        if (!shown_) return;
        Show(done, total);
        std::fputc('\n', stderr);
    }

private:
    void Show(int done, int total) {
        lastShown_ = Clock::now();
        std::fprintf(stderr, "\rkelo-host: frame %d", done);
        if (total > 0) std::fprintf(stderr, " of %d", total);
        std::fprintf(stderr, ", %.1f fps   ", done / SecondsSince(start_));
        shown_ = true;
    }

    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastShown_ = start_;
};

// The stages overlap: each one's busy time is set against the wall time of
// the frame loop, and FilterProc's waits show which neighbour held it back.
// Start-up (loading the plug-in, FilterInit, opening the input) is shown on
// its own.
void PrintStats(const PipelineReport& report, int width, int height, double startUp) {
    const int frames = report.framesWritten;
    const double wall = report.wall;
    std::fprintf(stderr, "kelo-host: %d frame%s of %dx%d in %.3f s: %.2f fps (start-up before them: %.3f s)\n",
                 frames, frames == 1 ? "" : "s", width, height, wall, wall > 0 ? frames / wall : 0.0, startUp);
    std::fprintf(stderr, "  %-22s %9s %7s %10s\n", "busy", "s", "% wall", "ms/frame");
    const auto line = [&](const char* name, double seconds) {
        std::fprintf(stderr, "  %-22s %9.3f %7.1f %10.2f\n", name, seconds, wall > 0 ? 100 * seconds / wall : 0.0,
                     frames > 0 ? 1000 * seconds / frames : 0.0);
    };
    double hostOwn = 0;
    for (int stage = 0; stage < kStageCount; ++stage) {
        if (stage != kFilterProc) hostOwn += report.busy.seconds[stage];
        line(kStageNames[stage], report.busy.seconds[stage]);
    }
    line("host's own, overlapped", hostOwn);
    line("FilterProc waits input", report.waitForInput);
    line("FilterProc waits output", report.waitForOutput);
}

// The probe's frame: small, odd-sized, and padded unless --max-w says
// otherwise. The plug-in opens its effect from the current directory, which
// the probe leaves as the caller set it.
int Probe(const Options& options, [[maybe_unused]] const PluginLibrary& library,
          [[maybe_unused]] const FilterSettings& settings) {
    const int pitch = options.maxWidth ? options.maxWidth : kProbeRowLength;
    if (pitch < kProbeWidth) {
        throw UsageError("--max-w " + std::to_string(pitch) + " is shorter than the probe frame's width " +
                         std::to_string(kProbeWidth));
    }
#ifdef _WIN32
    std::fputs(RunProbe(library, settings, pitch).c_str(), stdout);
    return kDone;
#else
    throw UsageError("--probe reads the plug-in's reports at its Windows imports: it runs in the Windows build only");
#endif
}

int Run(const Options& options) {
    const Clock::time_point start = Clock::now();
    const std::string pluginPath =
        options.plugin.empty() ? Utf8String(ProgramDirectory() / "kelo.auf") : Resolved(options.plugin);
    PluginLibrary library(pluginPath);
    const FilterDescription description = DescribeFilter(library.descriptor());
    if (options.describe) {
        std::fputs(FormatDescription(description).c_str(), stdout);
        return kDone;
    }
    FilterSettings settings = DefaultSettings(description);
    for (const std::string& assignment : options.settings) ApplySetting(description, assignment, settings);
    if (options.probe) return Probe(options, library, settings);

    FrameSource source(options.input, Resolved(options.input));
    std::string outputName = options.output;
    FileKind outputKind = source.kind();
    if (outputName.empty()) {
#ifdef KELO_HAVE_PNG
        outputName = source.kind() == FileKind::kPng ? "kelo-out.png" : "kelo-out.y4m";
#else
        outputName = "kelo-out.y4m";
        outputKind = FileKind::kY4m;
#endif
    } else if (outputName != "-") {
        const std::optional<FileKind> kind = KindByExtension(outputName);
        if (!kind) throw UsageError(outputName + ": the output's name must end in .png or .y4m");
        outputKind = *kind;
    }
    if (!options.compare.empty()) RequirePng(options.compare);
    FrameSink sink(outputName, Resolved(outputName), outputKind, source);
    const std::string comparePath = Resolved(options.compare);

    const int rowLength = options.maxWidth ? options.maxWidth : source.width() + kRowPadding;
    if (rowLength < source.width()) {
        throw UsageError("--max-w " + std::to_string(rowLength) + " is shorter than the picture's width " +
                         std::to_string(source.width()));
    }

    // The plug-in opens its effect by a bare name from its own folder.
    fs::current_path(Utf8Path(pluginPath).parent_path());
    RunningFilter filter(library.descriptor(), settings);
    if (!filter.Init()) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }
    if (source.y4mInfo() && sink.kind() == FileKind::kPng) {
        Note(options, "a PNG holds one picture: only the first frame is processed");
    }

    const double startUp = SecondsSince(start);
    Progress progress(!options.quiet);
    PipelineSettings pipeline;
    pipeline.rowLength = rowLength;
    // A PNG holds one picture.
    pipeline.maxFrames = sink.kind() == FileKind::kPng ? 1 : 0;
    if (!options.compare.empty()) {
        pipeline.firstFrameFiltered = [&](const YcFrame& before, const YcFrame& after) {
            WriteComparison(options.compare, comparePath, before, after);
        };
    }
    pipeline.frameWritten = [&](int done) { progress.FrameDone(done, source.frameCount()); };
    const PipelineReport report = RunPipeline(source, sink, filter, pipeline);
    progress.Finish(report.framesWritten, source.frameCount());
    if (report.error) std::rethrow_exception(report.error);
    if (report.failedFrame >= 0) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterProc failed on frame %d\n", report.failedFrame);
        return kPluginFailure;
    }
    if (report.stopped) {
        std::fprintf(stderr, "kelo-host: stopped after %d frames\n", report.framesWritten);
        return kUsageOrIoFailure;
    }
    sink.Finish();
    if (options.stats) PrintStats(report, source.width(), source.height(), startUp);
    return kDone;
}

// The command line in UTF-8, whatever the system's narrow encoding.
std::vector<std::string> Arguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf8String(fs::path(wide[i])));
    LocalFree(wide);
    return arguments;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Names and messages are UTF-8.
    SetConsoleOutputCP(CP_UTF8);
#else
    // A closed pipe downstream is an output error like any other, reported
    // after FilterExit, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // So is a file grown past the user's size limit.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    Options options;
    try {
        options = ParseOptions(Arguments(argc, argv));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kelo-host: %s\nTry 'kelo-host --help'.\n", error.what());
        return kUsageOrIoFailure;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kDone;
    }
    try {
        return Run(options);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kelo-host: out of memory\n");
        return kUsageOrIoFailure;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelo-host: %s\n", error.what());
        return kUsageOrIoFailure;
    }
}
