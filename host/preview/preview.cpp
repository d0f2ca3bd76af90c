#include "host/preview/preview.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "host/command_line/exit_status.h"
#include "host/command_line/options.h"
#include "host/files/byte_stream.h"
#include "host/files/output_file.h"
#include "host/files/utf8_path.h"
#include "host/frame_loop/frame_files.h"
#include "host/frame_loop/stage_times.h"
#include "host/picture/png_io.h"
#include "host/picture/scale_down.h"
#include "host/picture/test_chart.h"
#include "host/picture/y4m_index.h"
#include "host/picture/yc_convert.h"
#include "host/preview/preview_server.h"

namespace {

// The incoming frames, any one on demand: the chart, a PNG picture, or a
// frame of an indexed Y4M file.
class PreviewFrames {
public:
    PreviewFrames(const PreviewRequest& request) {
        if (request.inputPath.empty()) {
            width_ = kChartWidth;
            height_ = kChartHeight;
            return;
        }
        std::error_code error;
        const auto status =
            request.inputName == "-" ? std::filesystem::file_status() : std::filesystem::status(Utf8Path(request.inputPath), error);
        if (error) throw IoError(request.inputName + ": " + error.message());
        if (std::filesystem::is_directory(status)) {
            throw IoError(request.inputName + ": " + std::make_error_code(std::errc::is_a_directory).message());
        }
        if (!std::filesystem::is_regular_file(status)) {
            // Frames are read again whenever the page goes back to one.
            throw UsageError(request.inputName + ": --preview needs a file it can read again, not a stream");
        }
        FrameSource probe(request.inputName, request.inputPath);
        format_ = probe.format();
        width_ = probe.width();
        height_ = probe.height();
        if (probe.y4mInfo()) {
            index_.emplace(request.inputName, request.inputPath);
        } else {
            StageTimes ignored;
            probe.Next(png_, width_, ignored);
        }
    }

    int count() const { return index_ ? index_->count() : 1; }
    int width() const { return width_; }
    int height() const { return height_; }
    const PictureFormat& format() const { return format_; }

    // Frame `index` in rows of `rowLength` pixels.
    const YcFrame& Frame(int index, int rowLength) {
        if (index == current_ && frame_.pitch == rowLength) return frame_;
        frame_.Resize(width_, height_, rowLength);
        if (index_) {
            index_->Read(index, picture_);
            if (!converter_) converter_.emplace(format_);
            converter_->ToYc(picture_, frame_);
        } else if (png_.width) {
            for (int y = 0; y < height_; ++y) std::copy_n(png_.Row(y), width_, frame_.Row(y));
        } else {
            DrawTestChart(frame_);
        }
        current_ = index;
        return frame_;
    }

private:
    int width_ = 0, height_ = 0, current_ = -1;
    PictureFormat format_;
    std::optional<Y4mFrameIndex> index_;
    std::optional<YcConverter> converter_;
    Picture picture_;
    YcFrame png_, frame_;
};

}  // namespace

int RunPreview(const PreviewRequest& request, const FILTER_DLL& descriptor, const FilterDescription& description,
               const FilterSettings& settings, const std::function<void()>& enterPluginFolder) {
    RequirePng("--preview");
    // The printed address is the only way in. Asked before anything is
    // opened here, since a closed descriptor would be the next one handed
    // out, and the address written into that.
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0) {
        throw IoError(std::string("standard output: cannot show the preview's address: ") + std::strerror(errno));
    }
    PreviewFrames frames(request);
    const int rowLength = request.maxWidth ? request.maxWidth : frames.width() + kRowPadding;
    if (rowLength < frames.width()) {
        throw UsageError("--max-w " + std::to_string(rowLength) + " is shorter than the picture's width " +
                         std::to_string(frames.width()));
    }
    // As kelo-host writes the frame as a PNG picture: 16 bits only for a
    // deeper source.
    const int outputDepth = frames.format().depth > 8 ? 16 : 8;
    const YcConverter toPicture(PictureFormat{ColourModel::Rgb, Chroma::k444, outputDepth, false});

    RenderMailbox mailbox;
    const std::string token = NewToken();
    PreviewServer server(PreviewInfo{description, request.inputName, request.pluginArgument, frames.count(),
                                     frames.width(), frames.height(), outputDepth},
                         settings, mailbox, token);
    const int port = server.Bind(request.port);

    enterPluginFolder();
    RunningFilter filter(descriptor, settings);
    if (!filter.Init()) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }
    errno = 0;
    if (std::printf("kelo-host: preview at http://127.0.0.1:%d/?token=%s (Ctrl-C ends it)\n", port, token.c_str()) < 0 ||
        std::fflush(stdout) != 0) {
        throw IoError(std::string("standard output: cannot show the preview's address: ") +
                      (errno ? std::strerror(errno) : "write error"));
    }
    std::thread serving([&] { server.Serve(); });

    YcFrame temp;
    Picture picture;
    RenderJob job;
    // Ctrl-C or SIGTERM (the handlers kelo-host installs) end the preview.
    while (!StopSignal()) {
        if (!mailbox.Take(job, std::chrono::milliseconds(100))) continue;
        RenderResult result;
        try {
            // Each picture is a frame of its own: the scopes and the probe
            // read it while the next one is made.
            auto frame = std::make_shared<YcFrame>();
            const Clock::time_point reduceStart = Clock::now();
            const YcFrame& incoming = frames.Frame(job.frame, rowLength);
            if (job.width > 0 && job.width < incoming.width) {
                // While a track bar is dragged: the plug-in sees a frame of
                // this size, as it would a smaller project's.
                ScaleDown(incoming, job.width, kRowPadding, *frame);
            } else {
                *frame = incoming;
            }
            result.reduceMs = 1000 * SecondsSince(reduceStart);
            if (temp.width != frame->width || temp.height != frame->height || temp.pitch != frame->pitch) {
                temp.Resize(frame->width, frame->height, frame->pitch);
            }
            result.ok = true;
            const Clock::time_point start = Clock::now();
            if (job.filtered) {
                filter.Change(job.settings);
                result.ok = filter.Process(*frame, temp, job.frame, frames.count());
            }
            result.filterMs = 1000 * SecondsSince(start);
            if (result.ok) {
                const Clock::time_point encodeStart = Clock::now();
                toPicture.FromYc(*frame, picture);
                result.png = EncodePng(picture);
                result.encodeMs = 1000 * SecondsSince(encodeStart);
                result.frame = std::move(frame);
            } else {
                result.error = "the plug-in's FilterProc failed on frame " + std::to_string(job.frame);
                std::fprintf(stderr, "kelo-host: %s\n", result.error.c_str());
            }
        } catch (const std::exception& error) {
            result.ok = false;
            result.error = error.what();
            std::fprintf(stderr, "kelo-host: %s\n", result.error.c_str());
        }
        mailbox.Deliver(std::move(result));
    }
    mailbox.Stop();
    server.Stop();
    serving.join();
    filter.Exit();
    return 0;
}
