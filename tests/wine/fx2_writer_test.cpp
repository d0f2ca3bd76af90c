#include <gtest/gtest.h>

#include <cstring>

#include "tests/wine/fx2_writer.h"

namespace {

using namespace fx2::ps20;

// Token values as Microsoft's shader assembler writes these instructions.
TEST(Ps20Tokens, MatchTheAssemblersEncodingOfEveryRegisterTypeTheShadersUse) {
    EXPECT_EQ(Instruction(31, 2), 0x0200001Fu);                      // dcl
    EXPECT_EQ(Destination(kTexture, 0, kMaskXY), 0xB0030000u);       // t0.xy
    EXPECT_EQ(Destination(kSampler, 0), 0xA00F0800u);                // s0
    EXPECT_EQ(Instruction(66, 3), 0x03000042u);                      // texld
    EXPECT_EQ(Destination(kTemp, 0), 0x800F0000u);                   // r0
    EXPECT_EQ(Source(kTexture, 0), 0xB0E40000u);                     // t0
    EXPECT_EQ(Source(kSampler, 0), 0xA0E40800u);                     // s0
    EXPECT_EQ(Source(kConst, 0), 0xA0E40000u);                       // c0
    EXPECT_EQ(Destination(kColorOut, 0), 0x800F0800u);               // oC0
    EXPECT_EQ(Source(kTemp, 0), 0x80E40000u);                        // r0
}

// D3DX finds the constant table by skipping comments by their length, and the
// device parses instructions right after it: a wrong length breaks both.
TEST(SamplingShader, CommentLengthLeadsToTheFirstInstructionAndTheShaderEnds) {
    const std::string offset = "ycOffs";
    for (const std::string* addend : {static_cast<const std::string*>(nullptr), &offset}) {
        const std::vector<uint32_t> tokens = fx2::SamplingShader("sTmp", addend);
        ASSERT_GE(tokens.size(), 3u);
        EXPECT_EQ(tokens[0], kVersion);
        EXPECT_EQ(tokens[1] & 0xFFFF, 0xFFFEu) << "comment token";
        EXPECT_EQ(tokens[2], 0x42415443u) << "CTAB";
        const size_t next = 2 + (tokens[1] >> 16);
        ASSERT_LT(next, tokens.size());
        EXPECT_EQ(tokens[next], Instruction(31, 2)) << "token " << next << " after the comment";
        EXPECT_EQ(tokens.back(), kEnd);
        const uint32_t header = tokens[3];
        EXPECT_EQ(header, 28u) << "constant table header size";
        EXPECT_EQ(tokens[3 + 3], addend != nullptr ? 2u : 1u) << "constants";
    }
}

TEST(BuildEffect, StartsWithTheFx20TagAndPointsInsideTheFile) {
    for (fx2::Effect effect : {fx2::Effect::kIdentity, fx2::Effect::kAddYcOffs}) {
        const std::vector<uint8_t> bytes = fx2::BuildEffect(effect);
        ASSERT_GE(bytes.size(), 24u);
        uint32_t tag, start, parameters, techniques;
        std::memcpy(&tag, &bytes[0], 4);
        std::memcpy(&start, &bytes[4], 4);
        EXPECT_EQ(tag, 0xFEFF0901u);
        ASSERT_LT(8 + start + 8, bytes.size());
        std::memcpy(&parameters, &bytes[8 + start], 4);
        std::memcpy(&techniques, &bytes[8 + start + 4], 4);
        EXPECT_EQ(parameters, 5u) << "txTgt, txTmp, sTgt, sTmp, ycOffs";
        EXPECT_EQ(techniques, 1u);
        EXPECT_EQ(bytes.size() % 4, 0u);
    }
}

}  // namespace
