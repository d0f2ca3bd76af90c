// Writing a 1920 x 1080 frame as Y4M through the host's own sink, against a
// plain write() of the same bytes to a file in the same folder, the two
// alternating in one loop so that both meet the same machine. The counters
// give each one's milliseconds a frame and their ratio; the files start
// afresh every 16 frames so the disk does not fill.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "host/files/output_file.h"
#include "host/frame_loop/frame_files.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1920, kHeight = 1080;

void BM_EncodeY4mAgainstWrite(benchmark::State& state) {
    const PictureFormat format{ColourModel::YCbCr, state.range(0) ? Chroma::k444 : Chroma::k420, 8, false};
    const fs::path folder = fs::temp_directory_path() / ("kelo-host-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string clip = (folder / "in.y4m").string(), out = (folder / "out.y4m").string(),
                      plain = (folder / "plain.bin").string();
    Picture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.format = format;
    for (size_t i = 0; i < picture.SampleCount(); ++i) picture.samples8.push_back(uint8_t(16 + i % 200));
    {
        OutputFile file(clip, clip);
        Y4mWriter(file.output(), Y4mStreamInfo{kWidth, kHeight, format, "", {"F25:1"}}).WriteFrame(picture);
        file.Commit();
    }
    // The sink takes its format from a source, as in kelo-host.
    FrameSource source(clip, clip);
    YcFrame frame;
    StageTimes ignored;
    source.Next(frame, kWidth + 64, ignored);

    std::optional<FrameSink> sink;
    int fd = -1;
    double encodeSeconds = 0, writeSeconds = 0;
    int frames = 0;
    for (auto _ : state) {
        // The sink opens (and truncates) its file inside its first write's
        // time; so does the plain writer.
        const bool fresh = frames % 16 == 0;
        if (fresh) {
            sink.reset();
            sink.emplace(out, out, FileKind::kY4m, source);
        }
        StageTimes times;
        sink->Write(frame, times);
        encodeSeconds += times.seconds[kEncode];
        const Clock::time_point start = Clock::now();
        if (fresh) {
            if (fd >= 0) close(fd);
            fd = open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (write(fd, picture.samples8.data(), picture.samples8.size()) != ssize_t(picture.samples8.size())) {
            state.SkipWithError("plain write failed");
            break;
        }
        writeSeconds += SecondsSince(start);
        ++frames;
    }
    sink.reset();
    if (fd >= 0) close(fd);
    fs::remove_all(folder);
    if (frames == 0) return;
    state.counters["encode_ms"] = 1000 * encodeSeconds / frames;
    state.counters["write_ms"] = 1000 * writeSeconds / frames;
    state.counters["encode/write"] = encodeSeconds / writeSeconds;
}

// Arguments: 0 = 4:2:0, 1 = 4:4:4, both 8-bit.
BENCHMARK(BM_EncodeY4mAgainstWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
