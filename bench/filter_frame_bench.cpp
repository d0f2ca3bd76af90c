// One 1920 x 1080 frame through the plug-in's FilterProc on the Vulkan
// stand-in, with kelo.fx (tracks unchanged between frames, so nothing is
// rebuilt) and with a two-pass identity effect, in single and half
// precision; and the same frame stage by stage as FilterProc runs them:
// UploadFrame (conversion and UpdateTexture), RenderPasses, DownloadFrame
// (GetRenderTargetData and conversion); a stage repeated alone waits for its
// device work at its next lock or pass, as FilterProc's one submission a
// frame waits at the read-back. A 1 x 1 frame measures the fixed cost per
// frame; memcpy of the frame's texels is the floor. Measured on
// lavapipe (2 shared cores): the passes take about 80% of a kelo.fx frame
// and 1.75 times the identity's, the fixed cost under 1%. On a shared
// machine interleave repetitions and read the medians. Beside FilterProc:
// the same frame alternating with one of half its size, which makes the
// plug-in rebuild its frame resources every frame (the preview's drag and
// its full picture after it), and kelo-host's scopes of a 1920 x 1080 frame,
// counted and drawn, which the preview adds to each picture:
//   build/linux/bin/kelo_filter_bench --benchmark_repetitions=5
//     --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/scopes/scope_drawing.h"
#include "host/scopes/scopes.h"
#include "plugin/plugin.h"
#include "renderer/renderer.h"
#include "tests/effects/identity_effect.h"

namespace {

enum Stage { kFilterProc, kUpload, kPasses, kDownload };
enum Effect { kKelo, kIdentityEffect };

std::string EffectText(Effect effect) {
    if (effect == kIdentityEffect) return kIdentityTwoPassEffect;
    std::ifstream file(KELO_EFFECT_FILE, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The plug-in started in a temporary folder holding its kelo.fx, with one
// frame sent so that every resource exists.
class Session {
public:
    Session(Effect effect, bool half, int32_t width, int32_t height)
        : folder_(std::filesystem::temp_directory_path() /
                  ("kelo-filter-bench-" + std::to_string(getpid()))),
          previous_(std::filesystem::current_path()) {
        if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
            setenv("XDG_RUNTIME_DIR", std::filesystem::temp_directory_path().c_str(), 0);
        }
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
        std::ofstream("kelo.fx", std::ios::binary) << EffectText(effect);
        filter_.track_n = KELO_TRACK_COUNT;
        filter_.check_n = KELO_CHECK_COUNT;
        filter_.track = track_;
        filter_.check = check_;
        filter_.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(1));
        // Moved tracks, as a user leaves them; kelo.fx's arithmetic does not
        // depend on their values.
        for (int i = 0; i < KELO_TRACK_COUNT; ++i) track_[i] = 10 + i;
        check_[0] = half ? 1 : 0;
        pixels_.resize(size_t(width) * height);
        for (size_t i = 0; i < pixels_.size(); ++i) {
            pixels_[i] = {int16_t(i % 4096), int16_t(int(i % 4001) - 2000),
                          int16_t(int(i % 3989) - 1994)};
        }
        info_.ycp_edit = pixels_.data();
        info_.w = info_.max_w = width_ = width;
        info_.h = info_.max_h = height_ = height;
        info_.frame_n = 1;
        g_lastWidth = 0;  // a new size for the frame driver: it builds
        ready_ = FilterInit(&filter_) != FALSE && FilterProc(&filter_, &info_) != FALSE;
    }

    ~Session() {
        FilterExit(&filter_);
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

    bool ready() const { return ready_; }
    // The next frame at half the size, or back at the whole.
    void ChangeSize() {
        const bool whole = info_.w == width_;
        info_.w = info_.max_w = whole ? width_ / 2 : width_;
        info_.h = info_.max_h = whole ? height_ / 2 : height_;
    }
    bool Run(Stage stage) {
        switch (stage) {
            case kFilterProc:
                return FilterProc(&filter_, &info_) != FALSE;
            case kUpload:
                return UploadFrame(pixels_.data());
            case kPasses:
                return RenderPasses();
            case kDownload:
                return DownloadFrame(pixels_.data());
        }
        return false;
    }

private:
    std::filesystem::path folder_;
    std::filesystem::path previous_;
    int32_t track_[KELO_TRACK_COUNT] = {};
    int32_t check_[KELO_CHECK_COUNT] = {};
    FILTER filter_{};
    FILTER_PROC_INFO info_{};
    std::vector<PIXEL_YC> pixels_;
    int32_t width_ = 0, height_ = 0;
    bool ready_ = false;
};

// Arguments: stage, effect, half precision (0/1), full frame (1) or 1 x 1 (0).
void BM_FilterFrame(benchmark::State& state) {
    const auto stage = static_cast<Stage>(state.range(0));
    const auto effect = static_cast<Effect>(state.range(1));
    const bool half = state.range(2) != 0;
    const bool full = state.range(3) != 0;
    Session session(effect, half, full ? 1920 : 1, full ? 1080 : 1);
    if (!session.ready()) {
        state.SkipWithError("no Vulkan device, or the effect did not load");
        return;
    }
    for (auto _ : state) {
        if (!session.Run(stage)) {
            state.SkipWithError("the stage failed");
            break;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    static const char* const kStages[] = {"FilterProc", "upload", "passes", "download"};
    state.SetLabel(std::string(kStages[stage]) + (effect == kKelo ? " kelo.fx" : " identity") +
                   (half ? " F16" : " F32") + (full ? " 1920x1080" : " 1x1"));
}

// FilterProc at 1920 x 1080 and 960 x 540 in turn: each frame a rebuild.
void BM_FilterFrameChangingSize(benchmark::State& state) {
    Session session(kKelo, false, 1920, 1080);
    if (!session.ready()) {
        state.SkipWithError("no Vulkan device, or the effect did not load");
        return;
    }
    for (auto _ : state) {
        session.ChangeSize();
        if (!session.Run(kFilterProc)) {
            state.SkipWithError("FilterProc failed");
            break;
        }
    }
    state.SetLabel("FilterProc kelo.fx F32 1920x1080 and 960x540 in turn, rebuilt every frame");
}

// The scopes of a 1920 x 1080 frame of every kind of value: counted
// (range 0) or counted and drawn (1).
void BM_Scopes(benchmark::State& state) {
    YcFrame frame;
    frame.Resize(1920, 1080, 1984);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const int i = y * frame.width + x;
            frame.Row(y)[x] = {int16_t(i % 4601 - 300), int16_t(i % 4001 - 2000), int16_t(i % 3989 - 1994)};
        }
    for (auto _ : state) {
        const ScopeCounts counts = CountScopes(frame);
        if (state.range(0)) {
            const Picture drawn = DrawScopes({{"", &counts}});
            benchmark::DoNotOptimize(drawn.samples8.data());
        }
        benchmark::DoNotOptimize(counts.waveform.data());
    }
    state.SetLabel(state.range(0) ? "scopes counted and drawn 1920x1080" : "scopes counted 1920x1080");
}

void BM_MemcpyTexels(benchmark::State& state) {
    const size_t bytes = size_t{1920} * 1080 * (state.range(0) ? 8 : 16);
    std::vector<char> source(bytes, 1), target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(state.range(0) ? "F16 texels 1920x1080" : "F32 texels 1920x1080");
}

}  // namespace

BENCHMARK(BM_MemcpyTexels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterFrame)
    ->ArgsProduct({{kFilterProc}, {kKelo, kIdentityEffect}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FilterFrame)
    ->ArgsProduct({{kUpload, kPasses, kDownload}, {kKelo, kIdentityEffect}, {0, 1}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_FilterFrame)->Args({kFilterProc, kKelo, 0, 1})->Name("BM_FilterFrameSteady")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FilterFrameChangingSize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scopes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
