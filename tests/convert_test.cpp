#include "renderer/convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// Vectors of Texel start on 16-byte boundaries, as locked rows and rowBuf do.
struct alignas(16) Texel {
    float c[4];
};

// One of the four upload/download pairs, chosen like the renderer does.
struct Path {
    bool half;
    bool simd;
};

std::string Name(Path path) {
    return std::string(path.half ? "F16" : "F32") + (path.simd ? "Simd" : "Scalar");
}

// Texels are handed out as raw bytes so one buffer serves both precisions.
void Upload(Path path, const PIXEL_YC* pixels, void* texels, int32_t rowTexels, int32_t width,
            int32_t height, int32_t pitch, float* rowBuf) {
    if (path.half) {
        auto* halves = static_cast<D3DXFLOAT16*>(texels);
        (path.simd ? YcToF16Simd : YcToF16)(pixels, halves, rowTexels, width, height, pitch,
                                            rowBuf);
    } else {
        auto* floats = static_cast<float*>(texels);
        (path.simd ? YcToF32Simd : YcToF32)(pixels, floats, rowTexels, width, height, pitch);
    }
}

void Download(Path path, PIXEL_YC* pixels, const void* texels, int32_t rowTexels, int32_t width,
              int32_t height, int32_t pitch, float* rowBuf) {
    if (path.half) {
        auto* halves = static_cast<const D3DXFLOAT16*>(texels);
        (path.simd ? F16ToYcSimd : F16ToYc)(pixels, halves, rowTexels, width, height, pitch,
                                            rowBuf);
    } else {
        auto* floats = static_cast<const float*>(texels);
        (path.simd ? F32ToYcSimd : F32ToYc)(pixels, floats, rowTexels, width, height, pitch);
    }
}

const char* const kComponents[3] = {"y", "cb", "cr"};

size_t TexelBytes(Path path) { return path.half ? 8 : 16; }

// What a value comes back as after a trip through half precision: the nearest
// multiple of the half-precision step at its magnitude, ties to even, then
// saturated like every read-back.
int16_t ThroughHalf(int32_t value) {
    const int32_t magnitude = std::abs(value);
    const int32_t step = magnitude <= 2048    ? 1
                         : magnitude <= 4096  ? 2
                         : magnitude <= 8192  ? 4
                         : magnitude <= 16384 ? 8
                                              : 16;
    const double rounded = std::nearbyint(static_cast<double>(value) / step) * step;
    return static_cast<int16_t>(std::fmin(std::fmax(rounded, -32768.0), 32767.0));
}

// Compares component by component and names the first few mismatches.
::testing::AssertionResult SamePixels(const std::vector<PIXEL_YC>& expected,
                                      const std::vector<PIXEL_YC>& actual) {
    std::string failures;
    int count = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const int16_t e[3] = {expected[i].y, expected[i].cb, expected[i].cr};
        const int16_t a[3] = {actual[i].y, actual[i].cb, actual[i].cr};
        for (int k = 0; k < 3; ++k) {
            if (e[k] == a[k]) continue;
            if (++count <= 8) {
                failures += "\n  pixel " + std::to_string(i) + " " + kComponents[k] +
                            ": expected " + std::to_string(e[k]) + ", actual " +
                            std::to_string(a[k]);
            }
        }
    }
    if (count == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << count << " components differ:" << failures;
}

class ConvertTest : public ::testing::TestWithParam<Path> {};

// Every 16-bit value in every component, up on one implementation and back on
// either: single precision returns them all, half precision the nearest value
// it can hold. The two upload implementations must write identical bytes. A
// square frame goes through the vector routines' four-pixel steps, a column
// through their one-pixel steps.
TEST(ConvertRoundTrip, EveryValueOfEveryComponentOnEveryPairOfImplementations) {
    std::vector<PIXEL_YC> frame(65536);
    for (int32_t i = 0; i < 65536; ++i) {
        frame[i].y = static_cast<int16_t>(i - 32768);
        frame[i].cb = static_cast<int16_t>(32767 - i);
        frame[i].cr = static_cast<int16_t>(i * 40503);  // odd multiplier: a permutation
    }
    for (const auto& [width, height] : {std::pair{256, 256}, std::pair{1, 65536}}) {
        std::vector<Texel> rowBuf(width);
        for (bool half : {false, true}) {
            std::vector<PIXEL_YC> expected = frame;
            if (half) {
                for (PIXEL_YC& p : expected) {
                    p.y = ThroughHalf(p.y);
                    p.cb = ThroughHalf(p.cb);
                    p.cr = ThroughHalf(p.cr);
                }
            }
            std::vector<Texel> scalarTexels(frame.size()), simdTexels(frame.size());
            Upload({half, false}, frame.data(), scalarTexels.data(), width, width, height, width,
                   rowBuf.data()->c);
            Upload({half, true}, frame.data(), simdTexels.data(), width, width, height, width,
                   rowBuf.data()->c);
            EXPECT_EQ(std::memcmp(scalarTexels.data(), simdTexels.data(),
                                  scalarTexels.size() * sizeof(Texel)),
                      0)
                << (half ? "F16" : "F32") << " uploads differ, width " << width;
            for (bool simdDown : {false, true}) {
                std::vector<PIXEL_YC> back(frame.size(), PIXEL_YC{1, 2, 3});
                Download({half, simdDown}, back.data(), scalarTexels.data(), width, width, height,
                         width, rowBuf.data()->c);
                EXPECT_TRUE(SamePixels(expected, back))
                    << Name({half, simdDown}) << ", width " << width;
            }
        }
    }
}

TEST(ConvertUpload, WritesPositiveZeroRedAndExactScaledComponents) {
    const PIXEL_YC pixel{4096, -2048, 1};
    for (bool simd : {false, true}) {
        Texel texel{{-1.0f, -1.0f, -1.0f, -1.0f}};
        Upload({false, simd}, &pixel, &texel, 1, 1, 1, 1, nullptr);
        EXPECT_EQ(std::bit_cast<uint32_t>(texel.c[0]), 0u) << "red, simd=" << simd;
        EXPECT_EQ(texel.c[1], 1.0f) << "simd=" << simd;
        EXPECT_EQ(texel.c[2], -0.5f) << "simd=" << simd;
        EXPECT_EQ(texel.c[3], 0x1p-12f) << "simd=" << simd;
    }
}

// Texel values of every class, each with the pixel value all four read-back
// routines must give for it.
struct ValueCase {
    float texel;
    int16_t pixel;
};

std::vector<ValueCase> ValueClasses() {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    const float scale = 0x1p-12f;
    return {
        {0.0f, 0},
        {-0.0f, 0},
        {1.0f, 4096},
        {-0.5f, -2048},
        {2.5f * scale, 2},
        {3.5f * scale, 4},
        {-2.5f * scale, -2},
        {-3.5f * scale, -4},
        {0.5f * scale, 0},
        {1.5f * scale, 2},
        {32767.0f * scale, 32767},
        {std::nextafter(32767.5f, 0.0f) * scale, 32767},
        {32767.5f * scale, 32767},
        {std::nextafter(32767.5f, kInf) * scale, 32767},
        {8.0f, 32767},
        {40000.0f * scale, 32767},
        {16.0f, 32767},
        {0x1p31f * scale, 32767},
        {0x1p63f * scale, 32767},
        {std::numeric_limits<float>::max(), 32767},
        {kInf, 32767},
        {-32768.0f * scale, -32768},
        {std::nextafter(-32768.5f, 0.0f) * scale, -32768},
        {-32768.5f * scale, -32768},
        {-32769.0f * scale, -32768},
        {-0x1p31f * scale, -32768},
        {-0x1p63f * scale, -32768},
        {std::numeric_limits<float>::lowest(), -32768},
        {-kInf, -32768},
        {std::numeric_limits<float>::denorm_min(), 0},
        {kNaN, 0},
        {-kNaN, 0},
        {std::numeric_limits<float>::signaling_NaN(), 0},
    };
}

// The real D3DX's half format has no NaN (its top exponent holds ordinary
// numbers): what D3DXFloat32To16Array makes of a NaN is D3DX's choice, and the
// half paths cannot be asked what a NaN texel gives.
#ifdef _WIN32
constexpr bool kHalfCarriesNaN = false;
#else
constexpr bool kHalfCarriesNaN = true;
#endif

TEST(ConvertReadBack, AllFourRoutinesGiveTheSameSaturatedPixelForEveryValueClass) {
    const std::vector<ValueCase> cases = ValueClasses();
    const int32_t n = static_cast<int32_t>(cases.size());
    const float reds[] = {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), -1e30f, 0.0f, 5.0f};
    // Each case visits green, blue and alpha; red holds anything at all.
    std::vector<Texel> texels(n);
    for (int32_t i = 0; i < n; ++i) {
        texels[i] = Texel{
            {reds[i % 5], cases[i].texel, cases[(i + 1) % n].texel, cases[(i + 2) % n].texel}};
    }
    std::vector<D3DXFLOAT16> halves(n * 4);
    D3DXFloat32To16Array(halves.data(), &texels[0].c[0], n * 4);
    std::vector<Texel> rowBuf(n);
    // One row takes the vector routines' four-texel steps, one column their
    // single-texel steps.
    for (const auto& [width, height] : {std::pair{n, 1}, std::pair{1, n}}) {
        for (Path path :
             {Path{false, false}, Path{false, true}, Path{true, false}, Path{true, true}}) {
            std::vector<PIXEL_YC> pixels(n, PIXEL_YC{111, 222, 333});
            const void* source =
                path.half ? static_cast<const void*>(halves.data()) : texels.data();
            Download(path, pixels.data(), source, width, width, height, width, rowBuf.data()->c);
            for (int32_t i = 0; i < n; ++i) {
                const int16_t actual[3] = {pixels[i].y, pixels[i].cb, pixels[i].cr};
                for (int k = 0; k < 3; ++k) {
                    const ValueCase& c = cases[(i + k) % n];
                    if (path.half && std::isnan(c.texel) && !kHalfCarriesNaN) continue;
                    EXPECT_EQ(actual[k], c.pixel)
                        << Name(path) << " width " << width << " pixel " << i << " "
                        << kComponents[k] << " from texel " << c.texel << " (bits 0x" << std::hex
                        << std::bit_cast<uint32_t>(c.texel) << std::dec << ")";
                }
            }
        }
    }
}

// A frame inside larger host rows and a larger texture: only the frame's own
// pixels and texels are touched, on every path and at widths around each
// vector step. The host buffer ends right after the last pixel, so a
// sanitizer sees any overrun.
TEST_P(ConvertTest, TouchesOnlyTheFrameInsidePaddedRowsAndALargerTexture) {
    const Path path = GetParam();
    for (int32_t width : {1, 3, 7, 8, 9, 16, 33}) {
        const int32_t height = 3, pitch = width + 5, rowTexels = width + 2, texHeight = height + 2;
        const PIXEL_YC padding{-7, -7, -7};
        std::vector<PIXEL_YC> frame((height - 1) * pitch + width, padding);
        std::vector<PIXEL_YC> expected = frame;
        for (int32_t r = 0; r < height; ++r) {
            for (int32_t i = 0; i < width; ++i) {
                const int16_t v = static_cast<int16_t>(100 * r + i);
                frame[r * pitch + i] =
                    PIXEL_YC{v, static_cast<int16_t>(-v), static_cast<int16_t>(v + 1)};
                expected[r * pitch + i] = frame[r * pitch + i];
            }
        }
        const size_t texelBytes = TexelBytes(path);
        std::vector<Texel> texels(rowTexels * texHeight);
        auto* bytes = reinterpret_cast<unsigned char*>(texels.data());
        std::memset(bytes, 0xA5, texels.size() * sizeof(Texel));
        std::vector<Texel> rowBuf(width);
        Upload(path, frame.data(), texels.data(), rowTexels, width, height, pitch,
               rowBuf.data()->c);
        for (int32_t r = 0; r < texHeight; ++r) {
            for (int32_t i = 0; i < rowTexels; ++i) {
                if (r < height && i < width) continue;
                const unsigned char* texel = bytes + (r * rowTexels + i) * texelBytes;
                for (size_t b = 0; b < texelBytes; ++b) {
                    ASSERT_EQ(texel[b], 0xA5)
                        << Name(path) << " width " << width
                        << ": texel outside the frame written at row " << r << " column " << i;
                }
            }
        }
        for (int32_t r = 0; r < height; ++r) {
            for (int32_t i = 0; i < width; ++i) frame[r * pitch + i] = PIXEL_YC{0, 0, 0};
        }
        Download(path, frame.data(), texels.data(), rowTexels, width, height, pitch,
                 rowBuf.data()->c);
        EXPECT_TRUE(SamePixels(expected, frame)) << Name(path) << " width " << width;
    }
}

TEST_P(ConvertTest, NoRowsTouchesNothing) {
    const Path path = GetParam();
    std::vector<Texel> texels(4);
    std::memset(texels.data(), 0xA5, texels.size() * sizeof(Texel));
    const std::vector<Texel> before = texels;
    std::vector<PIXEL_YC> frame(4, PIXEL_YC{9, 9, 9});
    std::vector<Texel> rowBuf(4);
    Upload(path, frame.data(), texels.data(), 4, 4, 0, 4, rowBuf.data()->c);
    Download(path, frame.data(), texels.data(), 4, 4, 0, 4, rowBuf.data()->c);
    EXPECT_EQ(std::memcmp(before.data(), texels.data(), texels.size() * sizeof(Texel)), 0);
    EXPECT_TRUE(SamePixels(std::vector<PIXEL_YC>(4, PIXEL_YC{9, 9, 9}), frame)) << Name(path);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, ConvertTest,
                         ::testing::Values(Path{false, false}, Path{false, true}, Path{true, false},
                                           Path{true, true}),
                         [](const auto& info) { return Name(info.param); });

// A locked row that does not start on a 16-byte boundary must neither fault
// nor change the result of the single-precision vector routines.
TEST(ConvertSimd, UnalignedSingleRowsGiveTheAlignedResult) {
    constexpr int32_t kWidth = 5, kHeight = 2;
    std::vector<PIXEL_YC> frame(kWidth * kHeight);
    for (int32_t i = 0; i < kWidth * kHeight; ++i) {
        frame[i] = PIXEL_YC{static_cast<int16_t>(i * 1000 - 4000), static_cast<int16_t>(-i),
                            static_cast<int16_t>(i * 7)};
    }
    std::vector<Texel> aligned(kWidth * kHeight), storage(kWidth * kHeight + 1);
    float* unaligned = &storage[0].c[1];
    YcToF32Simd(frame.data(), aligned.data()->c, kWidth, kWidth, kHeight, kWidth);
    YcToF32Simd(frame.data(), unaligned, kWidth, kWidth, kHeight, kWidth);
    EXPECT_EQ(std::memcmp(aligned.data(), unaligned, aligned.size() * sizeof(Texel)), 0);
    std::vector<PIXEL_YC> back(frame.size());
    F32ToYcSimd(back.data(), unaligned, kWidth, kWidth, kHeight, kWidth);
    EXPECT_TRUE(SamePixels(frame, back));
}

}  // namespace
