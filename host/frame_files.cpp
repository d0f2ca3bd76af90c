#include "host/frame_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "host/test_chart.h"
#include "host/utf8_path.h"
#ifdef KELO_HAVE_PNG
#include "host/png_io.h"
#endif

namespace fs = std::filesystem;

std::optional<FileKind> KindByExtension(const std::string& path) {
    std::string extension = Utf8String(Utf8Path(path).extension());
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".png") return FileKind::kPng;
    if (extension == ".y4m") return FileKind::kY4m;
    return std::nullopt;
}

void RequirePng([[maybe_unused]] const std::string& name) {
#ifndef KELO_HAVE_PNG
    throw IoError(name + ": this build of kelo-host reads and writes no PNG; use Y4M");
#endif
}

namespace {

// A picture that could not be written completely is removed.
void WritePngFile(const std::string& displayName, [[maybe_unused]] const std::string& path,
                  [[maybe_unused]] const Picture& picture) {
    RequirePng(displayName);
#ifdef KELO_HAVE_PNG
    OpenedFile file = OpenedFile::ForWriting(path, displayName);
    try {
        ByteOutput output(file.get(), displayName);
        WritePng(output, picture);
        if (!file.Close()) throw IoError(displayName + ": cannot write");
    } catch (const IoError&) {
        file.Close();
        std::error_code ignored;
        if (path != "-") fs::remove(Utf8Path(path), ignored);
        throw;
    }
#endif
}

}  // namespace

FrameSource::FrameSource(const std::string& displayName, const std::string& path) {
    if (path.empty()) {
        format_ = PictureFormat{};
        width_ = kChartWidth;
        height_ = kChartHeight;
        frameCount_ = 1;
        return;
    }
    file_.emplace(OpenedFile::ForReading(path, displayName));
    input_.emplace(file_->get(), displayName);
    unsigned char magic[8];
    const size_t got = input_->Read(magic, sizeof magic);
    input_->Unread(magic, got);
    if (got == sizeof magic && std::memcmp(magic, kY4mMagic, sizeof magic) == 0) {
        kind_ = FileKind::kY4m;
        y4m_.emplace(*input_);
        width_ = y4m_->info().width;
        height_ = y4m_->info().height;
        format_ = y4m_->info().format;
        frameCount_ = EstimateFrameCount(path);
        return;
    }
#ifdef KELO_HAVE_PNG
    if (IsPngSignature(magic, got)) {
        picture_ = ReadPng(*input_);
        width_ = picture_.width;
        height_ = picture_.height;
        format_ = picture_.format;
        frameCount_ = 1;
        return;
    }
#endif
    throw IoError(displayName + (got == 0 ? ": is empty" : ": is neither a PNG picture nor a YUV4MPEG2 stream"));
}

bool FrameSource::Next(YcFrame& frame, int rowLength, StageTimes& times) {
    const int index = framesDelivered_++;
    if (!y4m_ && index > 0) return false;
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
    if (!converter_) converter_.emplace(format_);
    times.Time(kToYc, [&] { converter_->ToYc(picture_, frame); });
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
            WritePngFile(displayName_, path_, picture_);
            return;
        }
        if (!file_) {
            file_.emplace(OpenedFile::ForWriting(path_, displayName_));
            // A frame goes out in one write straight from the picture, and
            // nothing waits in a buffer that a failed write would leave
            // behind for a later flush.
            std::setvbuf(file_->get(), nullptr, _IONBF, 0);
            output_.emplace(file_->get(), displayName_);
            y4m_.emplace(*output_, y4mInfo_);
        }
        const long wholeFrames = std::ftell(file_->get());
        try {
            y4m_->WriteFrame(picture_);
        } catch (const IoError&) {
            // A frame cut short is taken back where the output allows it
            // (not on a pipe), so that the file holds whole frames only.
            if (wholeFrames >= 0) TruncateFile(file_->get(), wholeFrames);
            throw;
        }
    });
}

void FrameSink::Finish() {
    if (file_ && !file_->Close()) throw IoError(displayName_ + ": cannot write");
}

void WriteComparison(const std::string& displayName, const std::string& path, const YcFrame& before,
                     const YcFrame& after) {
    RequirePng(displayName);
    YcFrame sideBySide;
    sideBySide.Resize(before.width * 2, before.height, before.width * 2);
    for (int y = 0; y < before.height; ++y) {
        std::copy_n(before.Row(y), before.width, sideBySide.Row(y));
        std::copy_n(after.Row(y), after.width, sideBySide.Row(y) + before.width);
    }
    Picture picture;
    YcConverter(PictureFormat{ColourModel::Rgb, Chroma::k444, 8, false}).FromYc(sideBySide, picture);
    WritePngFile(displayName, path, picture);
}
