#include "host/frame_loop/frame_run.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "host/command_line/exit_status.h"
#include "host/files/utf8_path.h"
#include "host/frame_loop/frame_files.h"
#include "host/frame_loop/pipeline.h"
#include "host/frame_loop/workers.h"
#include "host/scopes/scope_drawing.h"
#include "plugin/version.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// kelo.auf builds its textures for sides up to this; a larger picture is
// refused before it costs any decoding.
constexpr int kKeloMaxSide = 4096;

// The run ends before its end: the output stays as it was, and the user
// learns where the frames done so far went.
void StopSink(FrameSink& sink) {
    const std::string note = sink.Stop();
    if (!note.empty()) std::fprintf(stderr, "kelo-host: %s\n", note.c_str());
}

void Note(const Options& options, const std::string& text) {
    if (!options.quiet) std::fprintf(stderr, "kelo-host: %s\n", text.c_str());
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
    PrintJobStats(report);
}

}  // namespace

int RunFrames(const Options& options, const FilePlan& plan, const PluginLibrary& library,
              const FilterDescription& description, const FilterSettings& settings, Clock::time_point started) {
    const bool isKelo = description.name == KELO_FILTER_NAME;
    FrameSource source(plan.input.name, plan.input.path, isKelo ? kKeloMaxSide : kMaxPictureSide);
    if (options.frameCount) source.SelectFrames(options.firstFrame, options.frameCount);
    const PlannedFile output = plan.Output(source.kind());
    FrameSink sink(output.name, output.path, plan.OutputKind(source.kind()), source);

    const int rowLength = options.maxWidth ? options.maxWidth : source.width() + kRowPadding;
    if (rowLength < source.width()) {
        throw UsageError("--max-w " + std::to_string(rowLength) + " is shorter than the picture's width " +
                         std::to_string(source.width()));
    }

    // The plug-in opens its effect by a bare name from its own folder.
    std::filesystem::current_path(Utf8Path(plan.pluginFolder));
    // Here, or one in each job.
    const int jobs = JobsFor(options.jobs, source, sink.kind() == FileKind::kPng);
    std::optional<RunningFilter> filter;
    if (jobs == 1) filter.emplace(library.descriptor(), settings);
    if (filter && !filter->Init()) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }

    const double startUp = SecondsSince(started);
    Progress progress(!options.quiet);
    // Replaces its target only with the run's success, like the output.
    std::optional<OutputFile> comparison, scopes;
    PipelineSettings pipeline;
    pipeline.rowLength = rowLength;
    // A PNG holds one picture.
    pipeline.maxFrames = sink.kind() == FileKind::kPng ? 1 : 0;
    pipeline.stopRequested = [] { return StopSignal() != 0; };
    if (const PlannedWrite* compare = plan.Write(WriteKind::kComparison)) {
        pipeline.firstFrameFiltered = [&comparison, compare](const YcFrame& before, const YcFrame& after) {
            comparison.emplace(compare->file.name, compare->file.path);
            WriteComparison(*comparison, before, after);
        };
    }
    if (const PlannedWrite* written = plan.Write(WriteKind::kScopes)) {
        const auto compareToo = std::move(pipeline.firstFrameFiltered);
        pipeline.firstFrameFiltered = [&scopes, written, compareToo](const YcFrame& before, const YcFrame& after) {
            if (compareToo) compareToo(before, after);
            scopes.emplace(written->file.name, written->file.path);
            WriteScopes(*scopes, before, after);
        };
    }
    pipeline.frameWritten = [&](int done) { progress.FrameDone(done, source.frameCount()); };
    const PipelineReport report = filter ? RunPipeline(source, sink, *filter, pipeline)
                                         : RunJobs(source, sink, library.descriptor(), settings, jobs, pipeline);
    progress.Finish(report.framesWritten, source.frameCount());
    // A job that died says so instead.
    if (!report.failure.empty() && !report.error) std::fprintf(stderr, "kelo-host: %s\n", report.failure.c_str());
    if (report.initFailed) {
        if (report.failure.empty()) std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }
    try {
        if (report.error) std::rethrow_exception(report.error);
        if (report.failedFrame >= 0) {
            if (report.failure.empty()) {
                std::fprintf(stderr, "kelo-host: the plug-in's FilterProc failed on frame %d (%dx%d)\n",
                             report.failedFrame, source.width(), source.height());
            }
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
    if (sink.kind() == FileKind::kPng && source.MoreFramesFollow()) {
        Note(options, "a PNG holds one picture: only the first frame was processed");
    }
    if (report.framesWritten == 0 && source.y4mInfo()) {
        Note(options, options.input + " holds no frames: " + output.name + " has the stream header alone");
    }
    if (options.stats) PrintStats(report, source.width(), source.height(), startUp);
    return kDone;
}
