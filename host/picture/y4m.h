// YUV4MPEG2 streams: 4:2:0, 4:2:2 and 4:4:4 at 8 to 16 bits per sample.
#pragma once

#include <string>
#include <vector>

#include "host/files/byte_stream.h"
#include "host/picture/picture.h"

struct Y4mStreamInfo {
    int width = 0;
    int height = 0;
    PictureFormat format;
    // The colour-space parameter as the input spelt it, so that a 4:2:0
    // chroma siting ("420mpeg2", "420paldv") survives the trip; empty: the
    // writer spells it from `format`.
    std::string colourSpace;
    // Header parameters other than size and colour space (frame rate,
    // interlacing, aspect, extensions), passed on to the output unchanged.
    std::vector<std::string> otherParameters;
};

constexpr char kY4mMagic[] = "YUV4MPEG2";

class Y4mReader {
public:
    // Reads the stream header; throws IoError when it is not a usable one.
    explicit Y4mReader(ByteInput& input);

    const Y4mStreamInfo& info() const { return info_; }
    // Reads the next frame into `picture`. Returns false at the end of the
    // stream; throws IoError naming the frame when it is cut short.
    bool ReadFrame(Picture& picture);
    // Passes over the next frame, checking its header; false at the end.
    bool SkipFrame();
    int framesRead() const { return framesRead_; }
    // For a reader started part-way into the stream: the next frame is
    // frame `index`, as messages name it.
    void StartAtFrame(int index) { framesRead_ = index; }
    // The parameters on the last frame's FRAME line ("Ib", "XFOO=1"; empty
    // when it had none).
    const std::string& frameParameters() const { return frameParameters_; }

private:
    enum class LineResult { kLine, kEnd, kTooLong, kCutShort };
    // One header line without its newline.
    LineResult ReadLine(std::string& line);
    // The next FRAME line into frameParameters_; false at the end.
    bool ReadFrameHeader();
    [[noreturn]] void FailFrame(const std::string& why) const;

    ByteInput& input_;
    Y4mStreamInfo info_;
    std::string frameParameters_;
    int framesRead_ = 0;
};

class Y4mWriter {
public:
    Y4mWriter(ByteOutput& output, const Y4mStreamInfo& info);
    // `parameters` go on the FRAME line, as the input had them.
    void WriteFrame(const Picture& picture, const std::string& parameters = "");

private:
    ByteOutput& output_;
};

// The colour-space parameter's value ("420jpeg", "444p10", ...) and back.
bool ParseY4mColourSpace(const std::string& value, PictureFormat& format);
std::string Y4mColourSpace(const PictureFormat& format);
