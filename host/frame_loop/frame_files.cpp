#include "host/frame_loop/frame_files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#ifndef _WIN32
#include <poll.h>
#include <sys/stat.h>
#endif

#include "host/files/stop_signals.h"
#include "host/files/utf8_path.h"
#include "host/picture/test_chart.h"
#ifdef KELO_HAVE_PNG
#include "host/picture/png_io.h"
#endif

namespace fs = std::filesystem;

namespace {

#ifdef KELO_HAVE_PNG
uint32_t BigEndian32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}
#endif

}  // namespace

FrameSource::FrameSource(const std::string& displayName, const std::string& path, int maxSide) try
    : displayName_(displayName) {
    if (path.empty()) {
        format_ = PictureFormat{};
        width_ = kChartWidth;
        height_ = kChartHeight;
        frameCount_ = 1;
        return;
    }
    file_.emplace(OpenedFile::ForReading(path, displayName));
    input_.emplace(file_->get(), displayName);
    // The magic, and for a PNG its header chunk with the picture's size.
    unsigned char start[24];
    const size_t got = input_->Read(start, sizeof start);
    input_->Unread(start, got);
    if (got >= 8 && std::memcmp(start, kY4mMagic, 8) == 0) {
        kind_ = FileKind::kY4m;
        y4m_.emplace(*input_);
        width_ = y4m_->info().width;
        height_ = y4m_->info().height;
        format_ = y4m_->info().format;
        CheckSize(displayName, uint32_t(width_), uint32_t(height_), maxSide);
        frameCount_ = EstimateFrameCount(path);
        return;
    }
#ifdef KELO_HAVE_PNG
    if (IsPngSignature(start, got)) {
        if (got == sizeof start && std::memcmp(start + 12, "IHDR", 4) == 0) {
            CheckSize(displayName, BigEndian32(start + 16), BigEndian32(start + 20), maxSide);
        }
        picture_ = ReadPng(*input_);
        width_ = picture_.width;
        height_ = picture_.height;
        format_ = picture_.format;
        frameCount_ = 1;
        return;
    }
#endif
    throw IoError(displayName + (got == 0 ? ": is empty" : ": is neither a PNG picture nor a YUV4MPEG2 stream"));
} catch (const Stopped& stop) {
    // Stopped while waiting for the stream's header: before any frame.
    throw Stopped(stop.signal(), 0);
}

void FrameSource::CheckSize(const std::string& displayName, uint64_t width, uint64_t height, int maxSide) const {
    if (maxSide >= kMaxPictureSide || (width <= uint64_t(maxSide) && height <= uint64_t(maxSide))) return;
    throw IoError(displayName + ": the picture is " + std::to_string(width) + "x" + std::to_string(height) +
                  "; the plug-in takes at most " + std::to_string(maxSide) + "x" + std::to_string(maxSide));
}

void FrameSource::SelectFrames(int first, int count) {
    if (!y4m_) throw IoError((IsChart() ? std::string("the chart") : displayName_) + ": --frames needs a Y4M input");
    firstFrame_ = first;
    frameLimit_ = count;
}

bool FrameSource::Next(YcFrame& frame, int rowLength, StageTimes& times) {
    const int index = framesDelivered_++;
    if (!y4m_ && index > 0) return false;
    if (frameLimit_ > 0 && index >= frameLimit_) return false;
    if (index == 0) {
        for (int skipped = 0; skipped < firstFrame_; ++skipped) {
            if (!times.Time(kDecode, [&] { return y4m_->SkipFrame(); })) return false;
        }
    }
    if (y4m_ && !times.Time(kDecode, [&] { return y4m_->ReadFrame(picture_); })) return false;
    // Sized only now, so that a header announcing a huge picture over no
    // data allocates nothing for it.
    if (frame.width != width_ || frame.height != height_ || frame.pitch != rowLength) {
        frame.Resize(width_, height_, rowLength);
    }
    if (IsChart()) {
        DrawTestChart(frame);
        return true;
    }
    if (y4m_) frame.frameParameters = y4m_->frameParameters();
    if (!converter_) converter_.emplace(format_);
    times.Time(kToYc, [&] { converter_->ToYc(picture_, frame); });
    return true;
}

bool FrameSource::MoreFramesFollow() {
    if (!y4m_) return false;
#ifndef _WIN32
    // Looking must not wait for a pipe's writer; one that has written or
    // closed can answer at once.
    const int descriptor = fileno(file_->get());
    struct stat status;
    pollfd readable{descriptor, POLLIN, 0};
    if (fstat(descriptor, &status) == 0 && !S_ISREG(status.st_mode) && poll(&readable, 1, 0) != 1) return true;
#endif
    unsigned char next;
    try {
        if (input_->Read(&next, 1) == 0) return false;
    } catch (const IoError&) {
        return true;  // there is more, though it cannot be read
    }
    input_->Unread(&next, 1);
    return true;
}

int FrameSource::EstimateFrameCount(const std::string& path) const {
    std::error_code error;
    const auto size = fs::file_size(Utf8Path(path), error);
    if (error) return 0;
    Picture shape;
    shape.width = width_;
    shape.height = height_;
    shape.format = format_;
    return int(size / (shape.ByteCount() + std::strlen("FRAME\n")));
}

FrameSink::FrameSink(const std::string& displayName, const std::string& path, FileKind kind, const FrameSource& source)
    : displayName_(displayName), path_(path), kind_(kind) {
    if (kind == FileKind::kPng) {
        RequirePng(displayName);
        format_ = PictureFormat{ColourModel::Rgb, Chroma::k444, source.format().depth > 8 ? 16 : 8, false};
    } else if (const Y4mStreamInfo* info = source.y4mInfo()) {
        y4mInfo_ = *info;
        format_ = info->format;
    } else {
        format_ = PictureFormat{ColourModel::YCbCr, Chroma::k444, source.format().depth > 8 ? 16 : 8, false};
        y4mInfo_.width = source.width();
        y4mInfo_.height = source.height();
        y4mInfo_.format = format_;
        y4mInfo_.otherParameters = {"F25:1", "Ip", "A1:1"};
    }
    converter_.emplace(format_);
}

void FrameSink::Write(const YcFrame& frame, StageTimes& times) {
    times.Time(kFromYc, [&] { converter_->FromYc(frame, picture_); });
    times.Time(kEncode, [&] {
        if (kind_ == FileKind::kPng) {
            // Replaced by Finish, with the run's success, as a stream is:
            // a stop while the picture is encoded leaves the old one.
            RequirePng(displayName_);
#ifdef KELO_HAVE_PNG
            file_.emplace(displayName_, path_);
            WritePng(file_->output(), picture_);
#endif
            return;
        }
        if (!file_) {
            file_.emplace(displayName_, path_);
            y4m_.emplace(file_->output(), y4mInfo_);
        }
        y4m_->WriteFrame(picture_, frame.frameParameters);
        // Each frame is complete on the way out, whatever follows.
        file_->MarkWhole();
    });
    ++framesWritten_;
}

void FrameSink::Finish() {
    try {
        if (kind_ == FileKind::kY4m && !file_) {
            file_.emplace(displayName_, path_);
            y4m_.emplace(file_->output(), y4mInfo_);
        }
        if (file_) file_->Commit();
    } catch (const Stopped& stop) {
        throw Stopped(stop.signal(), framesWritten_);
    }
}

std::string FrameSink::Stop() {
    if (!file_) return "";
    const std::string kept = file_->Abandon(kind_ == FileKind::kY4m);
    if (kind_ == FileKind::kPng) return "";
    if (kept.empty()) return file_->direct() ? "" : displayName_ + ": not written";
    return displayName_ + ": not written; the " + std::to_string(framesWritten_) + " whole frame" +
           (framesWritten_ == 1 ? " written is" : "s written are") + " in " + kept;
}

void WriteComparison(OutputFile& file, [[maybe_unused]] const YcFrame& before,
                     [[maybe_unused]] const YcFrame& after) {
    RequirePng(file.displayName());
#ifdef KELO_HAVE_PNG
    YcFrame sideBySide;
    sideBySide.Resize(before.width * 2, before.height, before.width * 2);
    for (int y = 0; y < before.height; ++y) {
        std::copy_n(before.Row(y), before.width, sideBySide.Row(y));
        std::copy_n(after.Row(y), after.width, sideBySide.Row(y) + before.width);
    }
    Picture picture;
    YcConverter(PictureFormat{ColourModel::Rgb, Chroma::k444, 8, false}).FromYc(sideBySide, picture);
    WritePng(file.output(), picture);
#endif
}
