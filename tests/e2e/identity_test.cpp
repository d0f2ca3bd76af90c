// Effects that change nothing must give back every pixel as it came: in
// single precision exactly, in half precision exactly where the value has a
// half, else its nearest half (ties to even).
#include "tests/e2e/plugin_session.h"
#include "tests/effects/identity_effect.h"

namespace {

constexpr char kOnePass[] = R"(
texture txTgt;
sampler sTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
float4 Copy(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTgt, uv); }
technique ColorCorrection { pass Only { PixelShader = compile ps_2_0 Copy(); } }
)";

struct Case {
    const char* effect;
    int32_t w, h;
    bool pow2;
};

class IdentityTest : public PluginTest, public ::testing::WithParamInterface<bool> {
protected:
    // Sends the frame and compares it, padding included, with the expected.
    void Check(const Case& c, bool half) {
        WriteEffect(c.effect);
        ASSERT_TRUE(Init());
        check[kF16] = half ? 1 : 0;
        check[kPow2] = c.pow2 ? 1 : 0;
        HostFrame frame = MakeHostFrame(c.w, c.h);
        FillEveryValue(&frame);
        HostFrame expected = frame;
        if (half) {
            for (int32_t y = 0; y < c.h; ++y) {
                for (int32_t x = 0; x < c.w; ++x) {
                    PIXEL_YC& p = expected.at(x, y);
                    p = {ThroughHalf(p.y), ThroughHalf(p.cb), ThroughHalf(p.cr)};
                }
            }
        }
        ASSERT_TRUE(Proc(&frame));
        EXPECT_TRUE(SamePixels(expected, frame))
            << c.w << "x" << c.h << (c.pow2 ? " pow2" : "") << (half ? " half" : " single");
    }
};

TEST(ThroughHalfTest, RoundsToTheNearestHalfTiesToEven) {
    EXPECT_EQ(ThroughHalf(2047), 2047);
    EXPECT_EQ(ThroughHalf(2049), 2048);  // tie between 2048 and 2050: even mantissa
    EXPECT_EQ(ThroughHalf(2051), 2052);
    EXPECT_EQ(ThroughHalf(-4099), -4100);
    EXPECT_EQ(ThroughHalf(-32768), -32768);
    EXPECT_EQ(ThroughHalf(32767), 32767);  // rounds to 32768, saturates
    EXPECT_EQ(ThroughHalf(32759), 32752);
}

// 256 x 256 holds every value of each component once; with "pow2" the
// same frame in a 256 x 256 texture, and 255 x 257 in 256 x 512.
TEST_P(IdentityTest, OnePassEveryValue) { Check({kOnePass, 256, 256, false}, GetParam()); }
TEST_P(IdentityTest, TwoPassEveryValue) { Check({kIdentityTwoPassEffect, 256, 256, false}, GetParam()); }
TEST_P(IdentityTest, TwoPassEveryValuePow2) { Check({kIdentityTwoPassEffect, 256, 256, true}, GetParam()); }
TEST_P(IdentityTest, TwoPassEveryValueOddSizePow2) { Check({kIdentityTwoPassEffect, 255, 257, true}, GetParam()); }
TEST_P(IdentityTest, TwoPassSinglePixel) { Check({kIdentityTwoPassEffect, 1, 1, false}, GetParam()); }
TEST_P(IdentityTest, TwoPassSinglePixelPow2) { Check({kIdentityTwoPassEffect, 1, 1, true}, GetParam()); }
TEST_P(IdentityTest, OnePassFullHdPlusOne) { Check({kOnePass, 1921, 1081, false}, GetParam()); }
TEST_P(IdentityTest, TwoPassFullHdPlusOne) { Check({kIdentityTwoPassEffect, 1921, 1081, false}, GetParam()); }
TEST_P(IdentityTest, TwoPassFullHdPlusOnePow2) { Check({kIdentityTwoPassEffect, 1921, 1081, true}, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Precision, IdentityTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Half" : "Single"; });

}  // namespace
