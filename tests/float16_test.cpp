#include "platform/d3dx9/float16.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/d3dx9_api.h"

namespace {

// Round to nearest even worked out on the value in double precision, with no
// bit tricks shared with the code under test. Not for NaN.
uint16_t ReferenceHalf(float value) {
    const uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    const double magnitude = std::fabs(static_cast<double>(value));
    if (magnitude >= 65520.0) return sign | 0x7C00;
    const double ulp = magnitude < 0x1p-14 ? 0x1p-24 : std::ldexp(1.0, std::ilogb(magnitude) - 10);
    double units = std::floor(magnitude / ulp);
    const double rest = magnitude / ulp - units;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(units, 2.0) == 1.0)) units += 1.0;
    const double rounded = units * ulp;
    if (rounded < 0x1p-14) return sign | static_cast<uint16_t>(rounded / 0x1p-24);
    const int exponent = std::ilogb(rounded);
    const double fraction = rounded / std::ldexp(1.0, exponent) - 1.0;
    return sign |
           static_cast<uint16_t>(((exponent + 15) << 10) | static_cast<int>(fraction * 1024));
}

float FloatFromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

::testing::AssertionResult ConvertsLikeReference(uint32_t bits) {
    const float value = FloatFromBits(bits);
    const uint16_t actual = HalfFromFloat(value);
    if (std::isnan(value)) {
        // Quiet, same sign, the top nine payload bits kept.
        const uint16_t expected =
            static_cast<uint16_t>(((bits >> 16) & 0x8000u) | 0x7E00u | ((bits >> 13) & 0x1FFu));
        if (actual == expected) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "NaN 0x" << std::hex << bits << ": expected 0x"
                                             << expected << ", actual 0x" << actual;
    }
    const uint16_t expected = ReferenceHalf(value);
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "float 0x" << std::hex << bits << " (" << value
                                         << "): expected 0x" << expected << ", actual 0x" << actual;
}

// Every exponent and both signs, with the mantissas where rounding decides:
// exact, just below, at and above the half-way point, with odd and even kept
// bits, and the all-ones mantissa that carries into the exponent.
TEST(Float16, FloatToHalfMatchesTheReferenceAtEveryExponentAndRoundingBoundary) {
    const uint32_t mantissas[] = {0x000000, 0x000001, 0x000FFF, 0x001000, 0x001001,
                                  0x002FFF, 0x003000, 0x003001, 0x400000, 0x7FE000,
                                  0x7FEFFF, 0x7FF000, 0x7FF001, 0x7FFFFF, 0x2AAAAA};
    for (uint32_t sign : {0u, 0x80000000u}) {
        for (uint32_t exponent = 0; exponent < 256; ++exponent) {
            for (uint32_t mantissa : mantissas) {
                EXPECT_TRUE(ConvertsLikeReference(sign | (exponent << 23) | mantissa));
            }
        }
    }
    // A spread over all floats catches what the boundaries miss.
    for (uint64_t bits = 0; bits < (1ull << 32); bits += 4099) {
        ASSERT_TRUE(ConvertsLikeReference(static_cast<uint32_t>(bits)));
    }
}

TEST(Float16, NamedValues) {
    EXPECT_EQ(HalfFromFloat(65504.0f), 0x7BFF);
    EXPECT_EQ(HalfFromFloat(65519.996f), 0x7BFF);
    EXPECT_EQ(HalfFromFloat(65520.0f), 0x7C00);
    EXPECT_EQ(HalfFromFloat(-INFINITY), 0xFC00);
    EXPECT_EQ(HalfFromFloat(0x1p-24f), 0x0001);
    EXPECT_EQ(HalfFromFloat(0x1p-25f), 0x0000);
    EXPECT_EQ(HalfFromFloat(-0x1.000002p-25f), 0x8001);
    EXPECT_EQ(HalfFromFloat(0x1.ff8p-15f), 0x03FF);  // the largest subnormal
    EXPECT_EQ(HalfFromFloat(0x1.ffcp-15f), 0x0400);  // a tie, up to the even smallest normal
    EXPECT_EQ(HalfFromFloat(-0.0f), 0x8000);
    // A NaN whose payload lies below the kept bits must not become infinity.
    EXPECT_EQ(HalfFromFloat(FloatFromBits(0x7F800001u)), 0x7E00);
    EXPECT_EQ(HalfFromFloat(FloatFromBits(0xFFA02000u)), 0xFF01);
}

// Every half is exact in single precision; a signalling NaN is quieted on the
// way, as every IEEE conversion (and F16C) does, and otherwise keeps its payload.
TEST(Float16, EveryHalfToFloatAndBackIsExact) {
    for (uint32_t h = 0; h < 0x10000; ++h) {
        const uint16_t half = static_cast<uint16_t>(h);
        const float value = FloatFromHalf(half);
        const uint32_t exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
        if (exponent == 0x1F && mantissa != 0) {
            ASSERT_TRUE(std::isnan(value)) << "half 0x" << std::hex << h;
        } else {
            const double magnitude = exponent == 0x1F ? INFINITY
                                     : exponent == 0  ? std::ldexp(mantissa, -24)
                                                      : std::ldexp(1024 + mantissa, exponent - 25);
            ASSERT_EQ(value, (h & 0x8000) ? -magnitude : magnitude) << "half 0x" << std::hex << h;
            ASSERT_EQ(std::signbit(value), (h & 0x8000) != 0) << "half 0x" << std::hex << h;
        }
        const bool signalling = exponent == 0x1F && mantissa != 0 && (mantissa & 0x200) == 0;
        const uint16_t expected = signalling ? static_cast<uint16_t>(half | 0x200) : half;
        ASSERT_EQ(HalfFromFloat(value), expected) << "half 0x" << std::hex << h;
    }
}

// The arrays take the fast path where the processor has one; lengths that are
// not a multiple of its width finish on the portable path.
TEST(Float16, F16cPathIsBitIdenticalToThePortablePath) {
    if (!CpuHasF16c()) GTEST_SKIP() << "no F16C on this processor";
    std::vector<uint16_t> allHalves(0x10000);
    for (uint32_t h = 0; h < 0x10000; ++h) allHalves[h] = static_cast<uint16_t>(h);
    std::vector<float> fast(0x10000), portable(0x10000);
    Float16To32F16c(fast.data(), allHalves.data(), allHalves.size());
    Float16To32Portable(portable.data(), allHalves.data(), allHalves.size());
    for (uint32_t h = 0; h < 0x10000; ++h) {
        ASSERT_EQ(std::bit_cast<uint32_t>(fast[h]), std::bit_cast<uint32_t>(portable[h]))
            << "half 0x" << std::hex << h;
    }
    std::vector<float> floats;
    for (uint64_t bits = 0; bits < (1ull << 32); bits += 65521) {
        floats.push_back(FloatFromBits(static_cast<uint32_t>(bits)));
    }
    std::vector<uint16_t> fastHalves(floats.size()), portableHalves(floats.size());
    Float32To16F16c(fastHalves.data(), floats.data(), floats.size());
    Float32To16Portable(portableHalves.data(), floats.data(), floats.size());
    for (size_t i = 0; i < floats.size(); ++i) {
        ASSERT_EQ(fastHalves[i], portableHalves[i])
            << "float 0x" << std::hex << std::bit_cast<uint32_t>(floats[i]);
    }
    // Long aligned arrays are streamed; one off the 16-byte grid is not.
    Float32To16F16c(fastHalves.data() + 1, floats.data(), floats.size() - 1);
    for (size_t i = 0; i + 1 < floats.size(); ++i) {
        ASSERT_EQ(fastHalves[i + 1], portableHalves[i])
            << "unaligned, float 0x" << std::hex << std::bit_cast<uint32_t>(floats[i]);
    }
}

TEST(Float16, D3dxArraysConvertEveryElementWhateverTheCount) {
    const float values[13] = {0.0f, 1.0f, -2.5f, 65504.0f, 1e9f, -1e-8f, 0x1p-24f,
                              NAN,  3.0f, 0.1f,  -0.0f,    7.0f, 2048.5f};
    for (UINT count : {0u, 1u, 4u, 8u, 13u}) {
        std::vector<D3DXFLOAT16> halves(13, D3DXFLOAT16{0xBEEF});
        EXPECT_EQ(D3DXFloat32To16Array(halves.data(), values, count), halves.data());
        std::vector<float> back(13, -1.0f);
        EXPECT_EQ(D3DXFloat16To32Array(back.data(), halves.data(), count), back.data());
        for (UINT i = 0; i < 13; ++i) {
            const uint16_t expected = i < count ? HalfFromFloat(values[i]) : 0xBEEF;
            EXPECT_EQ(halves[i].value, expected) << "element " << i << " of " << count;
            const float expectedBack = i < count ? FloatFromHalf(expected) : -1.0f;
            EXPECT_EQ(std::bit_cast<uint32_t>(back[i]), std::bit_cast<uint32_t>(expectedBack))
                << "element " << i << " of " << count;
        }
    }
}

}  // namespace
