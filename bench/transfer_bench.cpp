// Each conversion routine on one 1920 × 1080 frame, in bytes touched per second
// (pixels read or written plus texels written or read), set against memcpy
// moving the same number of bytes in the same run. The table at the end gives
// the ratios: each routine against memcpy, each vector routine against its
// scalar twin.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/d3dx9/float16.h"
#include "renderer/convert.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;

// Buffers live for the whole run so no frame pays for allocation or page faults
// beyond the first.
struct Buffers {
    std::vector<PIXEL_YC> frame = std::vector<PIXEL_YC>(kPixels);
    float* texels = static_cast<float*>(std::aligned_alloc(64, kPixels * 16));
    float* rowBuf = static_cast<float*>(std::aligned_alloc(64, kWidth * 16));
    std::vector<char> copyFrom = std::vector<char>(kPixels * 11, 1);
    std::vector<char> copyTo = std::vector<char>(kPixels * 11, 2);
    Buffers() {
        for (size_t i = 0; i < kPixels; ++i) {
            const int16_t v = static_cast<int16_t>(i % 4600);
            frame[i] = PIXEL_YC{v, static_cast<int16_t>(v - 2048), static_cast<int16_t>(2048 - v)};
        }
        YcToF32(frame.data(), texels, kWidth, kWidth, kHeight, kWidth);
    }
};

Buffers& Shared() {
    static Buffers buffers;
    return buffers;
}

auto* Half(float* texels) { return reinterpret_cast<D3DXFLOAT16*>(texels); }

void Touched(benchmark::State& state, size_t texelBytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * (6 + texelBytes)));
}

// Copying n bytes reads n and writes n: touch as many as the routine does.
template <size_t kTexelBytes>
void Memcpy(benchmark::State& state) {
    const size_t bytes = kPixels * (6 + kTexelBytes) / 2;
    Buffers& b = Shared();
    for (auto _ : state) {
        std::memcpy(b.copyTo.data(), b.copyFrom.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes * 2));
}
BENCHMARK(Memcpy<16>)->Name("memcpy/F32")->Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy<8>)->Name("memcpy/F16")->Unit(benchmark::kMillisecond);

template <auto Routine>
void UploadF32(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) {
        Routine(b.frame.data(), b.texels, kWidth, kWidth, kHeight, kWidth);
        benchmark::ClobberMemory();
    }
    Touched(state, 16);
}

template <auto Routine>
void DownloadF32(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) {
        Routine(b.frame.data(), b.texels, kWidth, kWidth, kHeight, kWidth);
        benchmark::ClobberMemory();
    }
    Touched(state, 16);
}

template <auto Routine>
void UploadF16(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) {
        Routine(b.frame.data(), Half(b.texels), kWidth, kWidth, kHeight, kWidth, b.rowBuf);
        benchmark::ClobberMemory();
    }
    Touched(state, 8);
}

template <auto Routine>
void DownloadF16(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) {
        Routine(b.frame.data(), Half(b.texels), kWidth, kWidth, kHeight, kWidth, b.rowBuf);
        benchmark::ClobberMemory();
    }
    Touched(state, 8);
}

BENCHMARK(UploadF32<YcToF32>)->Name("YcToF32")->Unit(benchmark::kMillisecond);
BENCHMARK(UploadF32<YcToF32Simd>)->Name("YcToF32Simd")->Unit(benchmark::kMillisecond);
BENCHMARK(DownloadF32<F32ToYc>)->Name("F32ToYc")->Unit(benchmark::kMillisecond);
BENCHMARK(DownloadF32<F32ToYcSimd>)->Name("F32ToYcSimd")->Unit(benchmark::kMillisecond);
BENCHMARK(UploadF16<YcToF16>)->Name("YcToF16")->Unit(benchmark::kMillisecond);
BENCHMARK(UploadF16<YcToF16Simd>)->Name("YcToF16Simd")->Unit(benchmark::kMillisecond);
BENCHMARK(DownloadF16<F16ToYc>)->Name("F16ToYc")->Unit(benchmark::kMillisecond);
BENCHMARK(DownloadF16<F16ToYcSimd>)->Name("F16ToYcSimd")->Unit(benchmark::kMillisecond);

// One frame's worth of half conversions (four values per texel), both paths.
template <auto Convert>
void FloatsToHalves(benchmark::State& state) {
    Buffers& b = Shared();
    auto* halves = reinterpret_cast<uint16_t*>(b.copyTo.data());
    for (auto _ : state) {
        Convert(halves, b.texels, kPixels * 4);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * 4 * 6));
}
BENCHMARK(FloatsToHalves<Float32To16Portable>)
    ->Name("Float32To16/portable")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FloatsToHalves<Float32To16F16c>)->Name("Float32To16/F16C")->Unit(benchmark::kMillisecond);

// Collects each benchmark's rate (the median when repeated) while the console
// shows the usual lines.
class RateCollector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!run.aggregate_name.empty() && run.aggregate_name != "median") continue;
            const auto found = run.counters.find("bytes_per_second");
            if (found != run.counters.end()) rates[run.run_name.str()] = found->second;
        }
    }
};

void PrintRatios(const std::map<std::string, double>& rates) {
    auto rate = [&](const std::string& name) {
        const auto found = rates.find(name);
        return found == rates.end() ? 0.0 : found->second;
    };
    std::printf("\n%-14s %14s %16s\n", "routine", "vs memcpy", "vs scalar twin");
    for (const char* precision : {"F32", "F16"}) {
        const double copy = rate(std::string("memcpy/") + precision);
        const std::string up = std::string("YcTo") + precision;
        const std::string down = std::string(precision) + "ToYc";
        for (const std::string& scalar : {up, down}) {
            const std::string simd = scalar + "Simd";
            if (copy > 0 && rate(scalar) > 0)
                std::printf("%-14s %14.2f\n", scalar.c_str(), rate(scalar) / copy);
            if (copy > 0 && rate(simd) > 0 && rate(scalar) > 0)
                std::printf("%-14s %14.2f %16.2f\n", simd.c_str(), rate(simd) / copy,
                            rate(simd) / rate(scalar));
        }
    }
    if (rate("Float32To16/portable") > 0 && rate("Float32To16/F16C") > 0)
        std::printf("%-14s %14s %16.2f\n", "F16C halves", "",
                    rate("Float32To16/F16C") / rate("Float32To16/portable"));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!CpuHasF16c())
        std::printf("No F16C here: the half-precision routines run the portable path.\n");
    RateCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    PrintRatios(collector.rates);
    benchmark::Shutdown();
    return 0;
}
