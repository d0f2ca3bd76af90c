// Every one of the 2^32 floats through both half-precision paths: too slow for
// the default run, labelled "long".
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "platform/d3dx9/float16.h"

namespace {

TEST(Float16Exhaustive, F16cAndPortableAgreeOnEveryFloat) {
    if (!CpuHasF16c()) GTEST_SKIP() << "no F16C on this processor";
    constexpr uint32_t kChunk = 1u << 20;
    std::vector<float> floats(kChunk);
    std::vector<uint16_t> fast(kChunk), portable(kChunk);
    for (uint64_t start = 0; start < (1ull << 32); start += kChunk) {
        for (uint32_t i = 0; i < kChunk; ++i) {
            floats[i] = std::bit_cast<float>(static_cast<uint32_t>(start + i));
        }
        Float32To16F16c(fast.data(), floats.data(), kChunk);
        Float32To16Portable(portable.data(), floats.data(), kChunk);
        for (uint32_t i = 0; i < kChunk; ++i) {
            ASSERT_EQ(fast[i], portable[i])
                << "float 0x" << std::hex << static_cast<uint32_t>(start + i);
        }
    }
}

}  // namespace
