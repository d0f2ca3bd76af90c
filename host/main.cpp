// kelo-host: runs a filter plug-in over pictures and video the way the
// editor would, without the editor.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/byte_stream.h"
#include "host/filter_plugin.h"
#include "host/options.h"
#include "host/test_chart.h"
#include "host/y4m.h"
#include "host/yc_convert.h"
#ifdef KELO_HAVE_PNG
#include "host/png_io.h"
#endif

#ifdef _WIN32
#include <io.h>
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

enum class FileKind { kPng, kY4m };

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The host's own stages, timed for --stats.
enum Stage { kDecode, kToYc, kFilterProc, kFromYc, kEncode, kStageCount };
const char* const kStageNames[kStageCount] = {"decode", "to YC", "FilterProc", "from YC", "encode"};

struct StageTimes {
    double seconds[kStageCount] = {};

    template <typename Work>
    auto Time(Stage stage, Work&& work) {
        const Clock::time_point start = Clock::now();
        struct Stop {
            double& total;
            Clock::time_point start;
            ~Stop() { total += SecondsSince(start); }
        } stop{seconds[stage], start};
        return work();
    }
};

void Note(const Options& options, const std::string& text) {
    if (!options.quiet) std::fprintf(stderr, "kelo-host: %s\n", text.c_str());
}

std::string Lowercase(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<FileKind> KindByExtension(const std::string& path) {
    const std::string extension = Lowercase(fs::path(path).extension().string());
    if (extension == ".png") return FileKind::kPng;
    if (extension == ".y4m") return FileKind::kY4m;
    return std::nullopt;
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
    return path.empty() || path == "-" ? path : fs::absolute(path).string();
}

void RequirePng([[maybe_unused]] const std::string& name) {
#ifndef KELO_HAVE_PNG
    throw IoError(name + ": this build of kelo-host reads and writes no PNG; use Y4M");
#endif
}

// Where frames come from: the chart, one PNG picture or a Y4M stream.
class FrameSource {
public:
    FrameSource(const std::string& displayName, const std::string& path) {
        if (path.empty()) {
            format_ = PictureFormat{};
            width_ = kChartWidth;
            height_ = kChartHeight;
            frameCount_ = 1;
            return;
        }
        file_.emplace(OpenedFile::ForReading(path));
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

    bool IsChart() const { return !input_; }
    FileKind kind() const { return kind_; }
    int width() const { return width_; }
    int height() const { return height_; }
    const PictureFormat& format() const { return format_; }
    // Frames in the input when known beforehand, otherwise 0.
    int frameCount() const { return frameCount_; }
    const Y4mStreamInfo* y4mInfo() const { return y4m_ ? &y4m_->info() : nullptr; }

    // Puts the next frame into `frame` (already sized); false at the end.
    bool Next(YcFrame& frame, StageTimes& times) {
        const int index = framesDelivered_++;
        if (!y4m_) {
            if (index > 0) return false;
            if (IsChart()) {
                DrawTestChart(frame);
            } else {
                const YcConverter converter(format_);
                times.Time(kToYc, [&] { converter.ToYc(picture_, frame); });
            }
            return true;
        }
        if (!times.Time(kDecode, [&] { return y4m_->ReadFrame(picture_); })) return false;
        if (!converter_) converter_.emplace(format_);
        times.Time(kToYc, [&] { converter_->ToYc(picture_, frame); });
        return true;
    }

private:
    int EstimateFrameCount(const std::string& path) const {
        std::error_code error;
        const auto size = fs::file_size(path, error);
        if (error) return 0;
        Picture shape;
        shape.width = width_;
        shape.height = height_;
        shape.format = format_;
        return int(size / (shape.ByteCount() + std::strlen("FRAME\n")));
    }

    std::optional<OpenedFile> file_;
    std::optional<ByteInput> input_;
    std::optional<Y4mReader> y4m_;
    std::optional<YcConverter> converter_;
    Picture picture_;
    FileKind kind_ = FileKind::kPng;
    PictureFormat format_;
    int width_ = 0, height_ = 0, frameCount_ = 0, framesDelivered_ = 0;
};

// Where frames go: one PNG picture or a Y4M stream, opened with the first.
class FrameSink {
public:
    FrameSink(const std::string& displayName, const std::string& path, FileKind kind, const FrameSource& source)
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

    FileKind kind() const { return kind_; }

    void Write(const YcFrame& frame, StageTimes& times) {
        times.Time(kFromYc, [&] { converter_->FromYc(frame, picture_); });
        times.Time(kEncode, [&] {
            if (!file_) {
                file_.emplace(OpenedFile::ForWriting(path_));
                output_.emplace(file_->get(), displayName_);
            }
            if (kind_ == FileKind::kY4m) {
                if (!y4m_) y4m_.emplace(*output_, y4mInfo_);
                y4m_->WriteFrame(picture_);
                // Each frame is complete on the way out, whatever follows.
                output_->Flush();
            } else {
                WritePicture();
            }
        });
    }

    void Finish() {
        if (file_ && !file_->Close()) throw IoError(displayName_ + ": cannot write");
    }

private:
    // A picture that could not be written completely is removed.
    void WritePicture() {
#ifdef KELO_HAVE_PNG
        try {
            WritePng(*output_, picture_);
        } catch (const IoError&) {
            file_.reset();
            std::error_code ignored;
            if (path_ != "-") fs::remove(path_, ignored);
            throw;
        }
#endif
    }

    std::string displayName_, path_;
    FileKind kind_;
    PictureFormat format_;
    Y4mStreamInfo y4mInfo_;
    std::optional<YcConverter> converter_;
    std::optional<OpenedFile> file_;
    std::optional<ByteOutput> output_;
    std::optional<Y4mWriter> y4m_;
    Picture picture_;
};

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
    OpenedFile file = OpenedFile::ForWriting(path);
    ByteOutput output(file.get(), displayName);
#ifdef KELO_HAVE_PNG
    WritePng(output, picture);
#endif
    if (!file.Close()) throw IoError(displayName + ": cannot write");
}

// Frames done and the rate, on a terminal only, for more than a few frames.
class Progress {
public:
    explicit Progress(bool enabled) : enabled_(enabled && isatty(fileno(stderr))) {}

    void FrameDone(int done, int total) {
        constexpr int kFewFrames = 5;
        if (!enabled_ || done <= kFewFrames || SecondsSince(lastShown_) < 0.25) return;
        lastShown_ = Clock::now();
        std::fprintf(stderr, "\rkelo-host: frame %d", done);
        if (total > 0) std::fprintf(stderr, " of %d", total);
        std::fprintf(stderr, ", %.1f fps   ", done / SecondsSince(start_));
        shown_ = true;
    }

    void Finish() {
        if (shown_) std::fputc('\n', stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastShown_ = start_;
};

void PrintStats(const StageTimes& times, int frames, int width, int height, double total) {
    std::fprintf(stderr, "kelo-host: %d frame%s of %dx%d in %.3f s: %.2f fps\n", frames, frames == 1 ? "" : "s",
                 width, height, total, total > 0 ? frames / total : 0.0);
    double hostOwn = 0;
    for (int stage = 0; stage < kStageCount; ++stage) {
        const double seconds = times.seconds[stage];
        if (stage != kFilterProc) hostOwn += seconds;
        std::fprintf(stderr, "  %-12s %9.3f s %6.1f %%  %8.2f ms/frame\n", kStageNames[stage], seconds,
                     total > 0 ? 100 * seconds / total : 0.0, frames > 0 ? 1000 * seconds / frames : 0.0);
    }
    std::fprintf(stderr, "  %-12s %9.3f s %6.1f %%\n", "host's own", hostOwn, total > 0 ? 100 * hostOwn / total : 0.0);
}

int Run(const Options& options) {
    const Clock::time_point start = Clock::now();
    const std::string pluginPath =
        options.plugin.empty() ? (ProgramDirectory() / "kelo.auf").string() : Resolved(options.plugin);
    PluginLibrary library(pluginPath);
    const FilterDescription description = DescribeFilter(library.descriptor());
    if (options.describe) {
        std::fputs(FormatDescription(description).c_str(), stdout);
        return kDone;
    }
    FilterSettings settings = DefaultSettings(description);
    for (const std::string& assignment : options.settings) ApplySetting(description, assignment, settings);

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
    YcFrame frame, temp, before;
    frame.Resize(source.width(), source.height(), rowLength);
    temp.Resize(source.width(), source.height(), rowLength);

    // The plug-in opens its effect by a bare name from its own folder.
    fs::current_path(fs::path(pluginPath).parent_path());
    RunningFilter filter(library.descriptor(), settings);
    if (!filter.Init()) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }
    if (source.y4mInfo() && sink.kind() == FileKind::kPng) {
        Note(options, "a PNG holds one picture: only the first frame is processed");
    }

    StageTimes times;
    Progress progress(!options.quiet);
    int frames = 0;
    while (source.Next(frame, times)) {
        if (!options.compare.empty() && frames == 0) before = frame;
        if (!times.Time(kFilterProc, [&] { return filter.Process(frame, temp, frames, source.frameCount()); })) {
            progress.Finish();
            std::fprintf(stderr, "kelo-host: the plug-in's FilterProc failed on frame %d\n", frames);
            return kPluginFailure;
        }
        if (!options.compare.empty() && frames == 0) WriteComparison(options.compare, comparePath, before, frame);
        sink.Write(frame, times);
        ++frames;
        progress.FrameDone(frames, source.frameCount());
        if (sink.kind() == FileKind::kPng) break;
    }
    progress.Finish();
    sink.Finish();
    if (options.stats) PrintStats(times, frames, source.width(), source.height(), SecondsSince(start));
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // A closed pipe downstream is an output error like any other, reported
    // after FilterExit, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    Options options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
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
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelo-host: %s\n", error.what());
        return kUsageOrIoFailure;
    }
}
