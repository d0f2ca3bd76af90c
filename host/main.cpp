// kelo-host: runs a filter plug-in over pictures and video the way the
// editor would, without the editor.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "host/lut/cube_lut.h"
#include "host/filter/filter_plugin.h"
#include "host/frame_loop/frame_files.h"
#include "host/command_line/options.h"
#include "host/files/output_file.h"
#include "host/frame_loop/pipeline.h"
#include "host/preview/preview.h"
#include "host/scopes/scope_drawing.h"
#include "host/filter/probe.h"
#include "host/command_line/settings_file.h"
#include "host/frame_loop/stage_times.h"
#include "host/files/utf8_path.h"
#include "plugin/version.h"

#ifdef _WIN32
#include <io.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The real host's frame buffer is larger than the picture; so is this one's.
constexpr int kRowPadding = 64;

// kelo.auf builds its textures for sides up to this; a larger picture is
// refused before it costs any decoding.
constexpr int kKeloMaxSide = 4096;

// Exit statuses; a stop asked for by a signal ends with 128 + the signal.
constexpr int kDone = 0;
constexpr int kUsageOrIoFailure = 1;
constexpr int kPluginFailure = 2;

// Reports the exception in flight; returns the exit status it means.
int ReportFailure() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kelo-host: out of memory\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelo-host: %s\n", error.what());
    }
    return kUsageOrIoFailure;
}

// The run ends before its end: the output stays as it was, and the user
// learns where the frames done so far went.
void StopSink(FrameSink& sink) {
    const std::string note = sink.Stop();
    if (!note.empty()) std::fprintf(stderr, "kelo-host: %s\n", note.c_str());
}

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
        shown_ = false;
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

int WriteCube(const Options& options, const std::string& pluginPath, const PluginLibrary& library,
              const FilterDescription& description, const FilterSettings& settings) {
    const std::string cubePath = Resolved(options.cube);
    fs::current_path(Utf8Path(pluginPath).parent_path());
    RunningFilter filter(library.descriptor(), settings);
    if (!filter.Init()) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }
    std::string text;
    if (!MakeCubeLut(filter, description, options.cubeSize ? options.cubeSize : kDefaultCubeSize, text)) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterProc failed on the LUT's lattice\n");
        return kPluginFailure;
    }
    WriteWholeFile(options.cube, cubePath, text);
    return kDone;
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
    for (const std::string& file : options.settingsFiles) {
        ApplySettingsFile(description, file, Resolved(file), settings);
    }
    for (const std::string& assignment : options.settings) ApplySetting(description, assignment, settings);
    if (options.probe) return Probe(options, library, settings);
    if (!options.saveSettings.empty()) {
        WriteWholeFile(options.saveSettings, Resolved(options.saveSettings), FormatSettings(description, settings));
    }
    if (!options.cube.empty()) return WriteCube(options, pluginPath, library, description, settings);
    if (!options.saveSettings.empty()) return kDone;
    if (options.preview) {
#ifndef KELO_HAVE_PREVIEW
        throw UsageError("this build of kelo-host has no --preview");
#else
        const PreviewRequest request{options.input, Resolved(options.input), options.plugin, options.port,
                                     options.maxWidth};
        // The plug-in opens its effect by a bare name from its own folder.
        const fs::path pluginFolder = Utf8Path(pluginPath).parent_path();
        return RunPreview(request, library.descriptor(), description, settings,
                          [&] { fs::current_path(pluginFolder); });
#endif
    }

    if (!options.compare.empty()) {
        RequirePng(options.compare);
        if (KindByExtension(options.compare) != FileKind::kPng) {
            throw UsageError(options.compare + ": the comparison's name must end in .png");
        }
    }
    // The scopes are checked and written like the comparison.
    if (!options.scopes.empty()) {
        RequirePng(options.scopes);
        if (KindByExtension(options.scopes) != FileKind::kPng) {
            throw UsageError(options.scopes + ": the scopes' name must end in .png");
        }
    }
    // Before the input is decoded and before anything is opened for writing.
    const InputIdentity input = IdentifyInput(options.input, Resolved(options.input));
    if (!options.compare.empty()) RefuseOverwritingInput(input, options.compare, Resolved(options.compare));
    if (!options.scopes.empty()) RefuseOverwritingInput(input, options.scopes, Resolved(options.scopes));
    const bool isKelo = description.name == KELO_FILTER_NAME;
    const bool outputNamed = !options.output.empty();
    if (outputNamed) RefuseOverwritingInput(input, options.output, Resolved(options.output));

    FrameSource source(options.input, Resolved(options.input), isKelo ? kKeloMaxSide : kMaxPictureSide);
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
    if (!outputNamed) RefuseOverwritingInput(input, outputName, Resolved(outputName));
    // The comparison would silently replace the output it was meant to go with.
    const auto canonical = [](const std::string& name) { return fs::weakly_canonical(Utf8Path(Resolved(name))); };
    if (!options.compare.empty() && outputName != "-" && canonical(options.compare) == canonical(outputName)) {
        throw UsageError(options.compare + ": --compare names the output file");
    }
    if (!options.scopes.empty() && outputName != "-" && canonical(options.scopes) == canonical(outputName)) {
        throw UsageError(options.scopes + ": --scopes names the output file");
    }
    if (!options.scopes.empty() && !options.compare.empty() && canonical(options.scopes) == canonical(options.compare)) {
        throw UsageError(options.scopes + ": --scopes and --compare name the same file");
    }
    FrameSink sink(outputName, Resolved(outputName), outputKind, source);
    const std::string comparePath = Resolved(options.compare);
    const std::string scopesPath = Resolved(options.scopes);

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
    // Replaces its target only with the run's success, like the output.
    std::optional<OutputFile> comparison, scopes;
    PipelineSettings pipeline;
    pipeline.rowLength = rowLength;
    // A PNG holds one picture.
    pipeline.maxFrames = sink.kind() == FileKind::kPng ? 1 : 0;
    pipeline.stopRequested = [] { return StopSignal() != 0; };
    if (!options.compare.empty()) {
        pipeline.firstFrameFiltered = [&](const YcFrame& before, const YcFrame& after) {
            comparison.emplace(options.compare, comparePath);
            WriteComparison(*comparison, before, after);
        };
    }
    if (!options.scopes.empty()) {
        const auto compareToo = std::move(pipeline.firstFrameFiltered);
        pipeline.firstFrameFiltered = [&, compareToo](const YcFrame& before, const YcFrame& after) {
            if (compareToo) compareToo(before, after);
            scopes.emplace(options.scopes, scopesPath);
            WriteScopes(*scopes, before, after);
        };
    }
    pipeline.frameWritten = [&](int done) { progress.FrameDone(done, source.frameCount()); };
    const PipelineReport report = RunPipeline(source, sink, filter, pipeline);
    progress.Finish(report.framesWritten, source.frameCount());
    try {
        if (report.error) std::rethrow_exception(report.error);
        if (report.failedFrame >= 0) {
            std::fprintf(stderr, "kelo-host: the plug-in's FilterProc failed on frame %d (%dx%d)\n",
                         report.failedFrame, source.width(), source.height());
            StopSink(sink);
            return kPluginFailure;
        }
        if (report.stopped) {
            const int signal = StopSignal() ? StopSignal() : SIGINT;
            std::fprintf(stderr, "kelo-host: stopped by %s after %d frame%s\n", signal == SIGINT ? "SIGINT" : "SIGTERM",
                         report.framesWritten, report.framesWritten == 1 ? "" : "s");
            StopSink(sink);
            return 128 + signal;
        }
        sink.Finish();
        if (comparison) comparison->Commit();
        if (scopes) scopes->Commit();
    } catch (...) {
        const int status = ReportFailure();
        StopSink(sink);
        return status;
    }
    if (report.framesWritten == 0 && source.y4mInfo()) {
        Note(options, options.input + " holds no frames: " + outputName + " has the stream header alone");
    }
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
    InstallStopSignals();
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
    if (options.version) {
        std::printf("kelo-host %s\n", KELO_HOST_VERSION);
        return kDone;
    }
    try {
        return Run(options);
    } catch (...) {
        return ReportFailure();
    }
}
