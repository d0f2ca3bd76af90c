// The host's conversions at 1920 x 1080, against a plain copy of the host's
// frame as the yardstick: their share of a frame's time is what kelo-host
// adds to the plug-in's.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "host/picture/yc_convert.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// Diagonal ramps with grain, like video: neighbouring samples are close, so
// the conversion tables are read the way real frames read them.
Picture GrainyRamps(PictureFormat format) {
    Picture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.format = format;
    const size_t count = format.model == ColourModel::Rgb ? size_t(kWidth) * kHeight * 3 : picture.SampleCount();
    uint32_t state = 12345;
    const uint32_t mask = (1u << format.depth) - 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const uint32_t x = uint32_t(i % kWidth), y = uint32_t(i / kWidth);
        const uint32_t value = ((x + y) << (format.depth - 8)) / 8 + (state >> 29);
        if (format.depth > 8) picture.samples16.push_back(uint16_t(value & mask));
        else picture.samples8.push_back(uint8_t(value & mask));
    }
    return picture;
}

const PictureFormat kFormats[] = {
    {ColourModel::YCbCr, Chroma::k420, 8, false},
    {ColourModel::YCbCr, Chroma::k420, 10, false},
    {ColourModel::YCbCr, Chroma::k444, 8, false},
    {ColourModel::Rgb, Chroma::k444, 8, false},
};

void BM_CopyFrame(benchmark::State& state) {
    YcFrame from, to;
    from.Resize(kWidth, kHeight, kWidth + 64);
    to.Resize(kWidth, kHeight, kWidth + 64);
    for (auto _ : state) {
        std::copy(from.pixels.begin(), from.pixels.end(), to.pixels.begin());
        benchmark::DoNotOptimize(to.pixels.data());
    }
}

void BM_ToYc(benchmark::State& state) {
    const PictureFormat format = kFormats[state.range(0)];
    const Picture picture = GrainyRamps(format);
    const YcConverter converter(format);
    YcFrame frame;
    frame.Resize(kWidth, kHeight, kWidth + 64);
    for (auto _ : state) {
        converter.ToYc(picture, frame);
        benchmark::DoNotOptimize(frame.pixels.data());
    }
}

void BM_FromYc(benchmark::State& state) {
    const PictureFormat format = kFormats[state.range(0)];
    const YcConverter converter(format);
    YcFrame frame;
    frame.Resize(kWidth, kHeight, kWidth + 64);
    converter.ToYc(GrainyRamps(format), frame);
    Picture picture;
    for (auto _ : state) {
        converter.FromYc(frame, picture);
        benchmark::DoNotOptimize(picture.samples8.data());
    }
}

// Arguments: 0 = 4:2:0 8-bit, 1 = 4:2:0 10-bit, 2 = 4:4:4 8-bit, 3 = RGB 8-bit.
BENCHMARK(BM_CopyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToYc)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FromYc)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
