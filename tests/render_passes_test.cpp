// The pass loop: one scene per call, passes alternating between the targets.
#include "tests/fakes/plugin_harness.h"

namespace {

using testing::_;
using testing::Return;

class RenderPassesTest : public PluginTest {
protected:
    std::vector<IDirect3DSurface9*> targets;

    void SetUp() override {
        ASSERT_TRUE(Start());
        ASSERT_TRUE(Build(64, 32));
        ON_CALL(gpu.device, SetRenderTarget(0, _))
            .WillByDefault([this](DWORD, IDirect3DSurface9* surface) {
                targets.push_back(surface);
                return S_OK;
            });
    }
    IDirect3DSurface9* Tmp() { return &gpu.textures[0].surface; }
    IDirect3DSurface9* Tgt() { return &gpu.textures[1].surface; }
};

TEST_F(RenderPassesTest, TwoPassesDrawIntoTmpThenTgtInOneScene) {
    {
        testing::InSequence order;
        EXPECT_CALL(gpu.device, BeginScene());
        EXPECT_CALL(gpu.effect, SetTechnique(testing::StrEq("ColorCorrection")));
        EXPECT_CALL(gpu.device, SetVertexDeclaration(&gpu.declaration));
        EXPECT_CALL(gpu.effect, Begin(_, 0u));
        for (UINT pass = 0; pass < 2; ++pass) {
            EXPECT_CALL(gpu.device, SetRenderTarget(0, pass == 0 ? Tmp() : Tgt()));
            EXPECT_CALL(gpu.effect, BeginPass(pass));
            EXPECT_CALL(gpu.device, SetStreamSource(0, &gpu.vertexBuffer, 0, 32));
            EXPECT_CALL(gpu.device, DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2));
            EXPECT_CALL(gpu.effect, EndPass());
        }
        EXPECT_CALL(gpu.effect, End());
        EXPECT_CALL(gpu.device, EndScene());
    }
    EXPECT_TRUE(RenderPasses());
    EXPECT_EQ(gpu.textures[0].surface.refs(), 0) << "each target surface is released after use";
}

TEST_F(RenderPassesTest, PassCountsWalkTheRing) {
    for (UINT passes : {0u, 1u, 3u}) {
        gpu.passes = passes;
        targets.clear();
        EXPECT_TRUE(RenderPasses()) << passes << " passes";
        std::vector<IDirect3DSurface9*> expected;
        for (UINT i = 0; i < passes; ++i) expected.push_back(i % 2 == 0 ? Tmp() : Tgt());
        EXPECT_EQ(targets, expected) << passes << " passes";
    }
}

TEST_F(RenderPassesTest, RefusedSceneSkipsThePassesAndSucceeds) {
    EXPECT_CALL(gpu.device, BeginScene()).WillOnce(Return(D3DERR_INVALIDCALL));
    EXPECT_CALL(gpu.effect, Begin(_, _)).Times(0);
    EXPECT_CALL(gpu.device, EndScene()).Times(0);
    EXPECT_TRUE(RenderPasses());
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(RenderPassesTest, FailedBeginRunsNoPassButClosesEffectAndScene) {
    EXPECT_CALL(gpu.effect, Begin(_, _)).WillOnce(Return(E_FAIL));
    EXPECT_CALL(gpu.device, DrawPrimitive(_, _, _)).Times(0);
    EXPECT_CALL(gpu.effect, End());
    EXPECT_CALL(gpu.device, EndScene());
    EXPECT_TRUE(RenderPasses());
}

TEST_F(RenderPassesTest, RefusedTargetSurfaceEndsEffectAndSceneAndFails) {
    EXPECT_CALL(gpu.textures[1].texture, GetSurfaceLevel(0, _)).WillOnce(Return(D3DERR_INVALIDCALL));
    EXPECT_CALL(gpu.device, DrawPrimitive(_, _, _)).Times(1);
    EXPECT_CALL(gpu.effect, End());
    EXPECT_CALL(gpu.device, EndScene());
    EXPECT_FALSE(RenderPasses());
    EXPECT_EQ(log.Reports().size(), 1u);
}

TEST_F(RenderPassesTest, NoRingNoScene) {
    ReleaseFrameResources();
    EXPECT_CALL(gpu.device, BeginScene()).Times(0);
    EXPECT_FALSE(RenderPasses());
}

}  // namespace
