// The frames of a run: where they come from (the chart, one PNG picture or a
// Y4M stream) and where they go (one PNG picture or a Y4M stream).
#pragma once

#include <optional>
#include <string>

#include "host/files/byte_stream.h"
#include "host/files/file_plan.h"
#include "host/files/output_file.h"
#include "host/frame_loop/stage_times.h"
#include "host/picture/picture.h"
#include "host/picture/y4m.h"
#include "host/picture/yc_convert.h"

// The real host's frame buffer is larger than the picture; so is this one's.
constexpr int kRowPadding = 64;

class FrameSource {
public:
    // An empty path means the chart; "-" standard input. The kind of a file
    // is told by its first bytes. A picture with a side beyond `maxSide` is
    // refused from its header, before anything is decoded or allocated.
    FrameSource(const std::string& displayName, const std::string& path, int maxSide = kMaxPictureSide);

    bool IsChart() const { return !input_; }
    FileKind kind() const { return kind_; }
    int width() const { return width_; }
    int height() const { return height_; }
    const PictureFormat& format() const { return format_; }
    // Frames in the input when known beforehand, otherwise 0.
    int frameCount() const { return frameCount_; }
    const Y4mStreamInfo* y4mInfo() const { return y4m_ ? &y4m_->info() : nullptr; }

    // Only frames first .. first + count - 1 of a Y4M stream (fewer where it
    // ends before); the ones before are passed over unconverted on the
    // first Next. Throws IoError for another input.
    void SelectFrames(int first, int count);
    // The stream's number of the first frame delivered, for FilterProc.
    int firstFrame() const { return firstFrame_; }

    // Puts the next frame into `frame`, sized to the picture with rows of
    // `rowLength` pixels once a frame has really arrived, with its Y4M frame
    // parameters; false at the end.
    bool Next(YcFrame& frame, int rowLength, StageTimes& times);
    // Whether the input holds more after the frames delivered so far: a
    // file is looked at, a stream whose writer has not yet said counts as
    // going on. Called once the frames are read.
    bool MoreFramesFollow();

private:
    int EstimateFrameCount(const std::string& path) const;
    void CheckSize(const std::string& displayName, uint64_t width, uint64_t height, int maxSide) const;

    std::optional<OpenedFile> file_;
    std::optional<ByteInput> input_;
    std::optional<Y4mReader> y4m_;
    std::optional<YcConverter> converter_;
    Picture picture_;
    FileKind kind_ = FileKind::kPng;
    PictureFormat format_;
    int width_ = 0, height_ = 0, frameCount_ = 0, framesDelivered_ = 0;
    int firstFrame_ = 0, frameLimit_ = 0;  // 0: no limit
    std::string displayName_;
};

// Opens its file with the first frame, so that nothing is created for a run
// that fails before it; the target is replaced only by Finish (see
// host/output_file.h).
class FrameSink {
public:
    FrameSink(const std::string& displayName, const std::string& path, FileKind kind, const FrameSource& source);

    FileKind kind() const { return kind_; }
    void Write(const YcFrame& frame, StageTimes& times);
    // A Y4M stream that got no frame becomes its header alone.
    void Finish();
    // The run ends early: the target stays as it was. Returns a note naming
    // where the whole Y4M frames written so far were kept, or "".
    std::string Stop();

private:
    std::string displayName_, path_;
    FileKind kind_;
    PictureFormat format_;
    Y4mStreamInfo y4mInfo_;
    std::optional<YcConverter> converter_;
    std::optional<OutputFile> file_;
    std::optional<Y4mWriter> y4m_;
    Picture picture_;
    int framesWritten_ = 0;
};

// The frame before and after the filter, side by side, as an 8-bit PNG,
// into `file`; the caller commits it once the whole run has succeeded.
void WriteComparison(OutputFile& file, const YcFrame& before, const YcFrame& after);
