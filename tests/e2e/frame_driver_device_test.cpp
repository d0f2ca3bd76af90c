// The frame driver on the real device: what it rebuilds for which change,
// and the largest frames it takes and refuses.
#include <fstream>
#include <sstream>

#include "renderer/renderer.h"
#include "tests/e2e/plugin_session.h"

namespace {

// Y times the gain, everything else unchanged, in two passes.
constexpr char kGain[] = R"(
float4 ycAmp = {0, 1, 1, 1};
texture txTgt;
texture txTmp;
sampler sTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
sampler sTmp = sampler_state { Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
float4 Scale(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTgt, uv) * ycAmp; }
float4 Copy(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTmp, uv); }
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 Scale(); }
    pass { PixelShader = compile ps_2_0 Copy(); }
}
)";

// The renderer's frame-size resources, each held by one more reference so
// that a rebuilt one cannot come back at the same address.
class HeldResources {
public:
    HeldResources()
        : objects_{g_renderer->texTgt, g_renderer->texTmp, g_renderer->texSys,
                   g_renderer->vbQuad, g_renderer->declQuad} {
        for (IUnknown* object : objects_) object->AddRef();
    }
    ~HeldResources() {
        for (IUnknown* object : objects_) object->Release();
    }
    // How many of them the renderer still uses.
    int Kept() const {
        const IUnknown* now[5] = {g_renderer->texTgt, g_renderer->texTmp, g_renderer->texSys,
                                  g_renderer->vbQuad, g_renderer->declQuad};
        int kept = 0;
        for (int i = 0; i < 5; ++i) kept += now[i] == objects_[i] ? 1 : 0;
        return kept;
    }

private:
    IUnknown* objects_[5];
};

class FrameDriverDeviceTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        WriteEffect(kGain);
        ASSERT_TRUE(Init());
    }

    // Sends a frame of the given size, every value of Y up to 65,536 pixels.
    HostFrame Send(int32_t w, int32_t h) {
        HostFrame frame = MakeHostFrame(w, h);
        FillEveryValue(&frame);
        EXPECT_TRUE(Proc(&frame)) << w << "x" << h;
        return frame;
    }
};

TEST_F(FrameDriverDeviceTest, MovingATrackSendsOnlyTheParameters) {
    Send(64, 32);
    HeldResources before;
    track[1] = 256;  // Y gain 2
    HostFrame frame = MakeHostFrame(64, 32);
    frame.at(5, 7) = {1000, 300, -300};
    ASSERT_TRUE(Proc(&frame));
    EXPECT_EQ(before.Kept(), 5) << "a resource was created for a track";
    EXPECT_EQ(frame.at(5, 7).y, 2000) << "the new gain did not reach the effect";
    EXPECT_EQ(frame.at(5, 7).cb, 300);
}

TEST_F(FrameDriverDeviceTest, TogglingF16OrPow2Rebuilds) {
    Send(100, 30);
    for (int which : {kF16, kPow2}) {
        for (int32_t value : {1, 0}) {
            HeldResources before;
            check[which] = value;
            HostFrame frame = MakeHostFrame(100, 30);
            frame.at(99, 29) = {1234, -5, 6};
            ASSERT_TRUE(Proc(&frame));
            EXPECT_EQ(before.Kept(), 0) << "check " << which << " set to " << value;
            EXPECT_EQ(g_renderer->useF16, check[kF16]);
            EXPECT_EQ(g_renderer->texWidth, check[kPow2] ? 128 : 100);
            EXPECT_EQ(g_renderer->texHeight, check[kPow2] ? 32 : 30);
            EXPECT_EQ(frame.at(99, 29).y, 1234) << "check " << which << " set to " << value;
        }
    }
}

TEST_F(FrameDriverDeviceTest, SizeChangesRebuild) {
    Send(64, 32);
    struct Size {
        int32_t w, h, max_w;
    };
    for (Size size : {Size{65, 32, 68}, Size{65, 31, 68}, Size{65, 31, 70}}) {
        HeldResources before;
        HostFrame frame = MakeHostFrame(size.w, size.h);
        frame.max_w = size.max_w;
        frame.pixels.assign(size_t(frame.max_w) * frame.max_h, kPadding);
        FillEveryValue(&frame);
        const HostFrame sent = frame;
        ASSERT_TRUE(Proc(&frame));
        EXPECT_EQ(before.Kept(), 0) << size.w << "x" << size.h << " pitch " << size.max_w;
        EXPECT_TRUE(SamePixels(sent, frame)) << size.w << "x" << size.h << " pitch " << size.max_w;
    }
}

TEST_F(FrameDriverDeviceTest, LargestFrameWorks) {
    HostFrame frame = MakeHostFrame(4096, 4096);
    FillEveryValue(&frame);
    const HostFrame sent = frame;
    ASSERT_TRUE(Proc(&frame));
    EXPECT_TRUE(SamePixels(sent, frame));
}

// Too large for a texture: the frame stays as it was, and the next frame of
// a size the device takes is corrected again.
TEST_F(FrameDriverDeviceTest, TooLargeFrameFailsUntouched) {
    Send(64, 32);
    for (auto [w, h] : {std::pair{4097, 8}, std::pair{8, 4097}}) {
        HostFrame frame = MakeHostFrame(w, h);
        FillEveryValue(&frame);
        const HostFrame sent = frame;
        EXPECT_FALSE(Proc(&frame)) << w << "x" << h;
        EXPECT_TRUE(SamePixels(sent, frame)) << w << "x" << h;
    }
    track[1] = 256;
    HostFrame frame = MakeHostFrame(64, 32);
    frame.at(0, 0) = {100, 0, 0};
    ASSERT_TRUE(Proc(&frame));
    EXPECT_EQ(frame.at(0, 0).y, 200);
}

}  // namespace
