// The frame-size resources: the quad, the three textures, their binding to the
// effect, the row buffer and the pass ring, and what a failing step leaves.
#include <cstdint>

#include "tests/fakes/plugin_harness.h"

namespace {

using testing::_;
using testing::Return;
using testing::StrEq;

class FrameResourcesTest : public PluginTest {
protected:
    void SetUp() override { ASSERT_TRUE(Start()); }
};

TEST_F(FrameResourcesTest, Pow2FullHdBuildsSquareTexturesAndAQuadOverThem) {
    EXPECT_CALL(gpu.device, CreateVertexBuffer(128, 0x208u, 0u, D3DPOOL_DEFAULT, _, nullptr));
    EXPECT_CALL(gpu.vertexBuffer, Lock(0, 0, _, 0x2800u));
    EXPECT_CALL(gpu.vertexBuffer, Unlock());
    ASSERT_TRUE(Build(1920, 1080, true, false, 2000));

    const Renderer& r = *g_renderer;
    EXPECT_EQ(r.width, 1920);
    EXPECT_EQ(r.height, 1080);
    EXPECT_EQ(r.pitch, 2000);
    EXPECT_EQ(r.texWidth, 2048);
    EXPECT_EQ(r.texHeight, 2048);
    EXPECT_EQ(r.useF16, 0);
    EXPECT_EQ(r.usePow2, 1);

    const float expected[4][8] = {{-0.5f, -0.5f, 1, 1, 0, 0, 0, 0},
                                  {2047.5f, -0.5f, 1, 1, 1, 0, 1, 0},
                                  {-0.5f, 2047.5f, 1, 1, 0, 1, 0, 1},
                                  {2047.5f, 2047.5f, 1, 1, 1, 1, 1, 1}};
    float vertices[4][8];
    std::memcpy(vertices, gpu.vertexMemory, sizeof vertices);
    for (int v = 0; v < 4; ++v)
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(vertices[v][c], expected[v][c]) << "vertex " << v << " component " << c;

    struct Element { int offset, type, usage, index; };
    const Element elements[] = {{0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0},
                                {16, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0},
                                {24, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1}};
    ASSERT_EQ(gpu.declarationElements.size(), 4u) << "three elements and the end marker";
    for (int i = 0; i < 3; ++i) {
        const D3DVERTEXELEMENT9& e = gpu.declarationElements[i];
        EXPECT_EQ(e.Stream, 0) << "element " << i;
        EXPECT_EQ(e.Offset, elements[i].offset) << "element " << i;
        EXPECT_EQ(e.Type, elements[i].type) << "element " << i;
        EXPECT_EQ(e.Method, D3DDECLMETHOD_DEFAULT) << "element " << i;
        EXPECT_EQ(e.Usage, elements[i].usage) << "element " << i;
        EXPECT_EQ(e.UsageIndex, elements[i].index) << "element " << i;
    }
    EXPECT_EQ(gpu.declarationElements[3].Stream, 0xFF);
    EXPECT_EQ(gpu.declarationElements[3].Type, D3DDECLTYPE_UNUSED);
}

TEST_F(FrameResourcesTest, TexturesRingAndBindingsFollowTheirRoles) {
    EXPECT_CALL(gpu.effect, SetTexture(StrEq("txTgt"), _));
    EXPECT_CALL(gpu.effect, SetTexture(StrEq("txTmp"), _));
    ASSERT_TRUE(Build(1920, 1080));
    ASSERT_EQ(gpu.textures.size(), 3u);
    const Renderer& r = *g_renderer;
    EXPECT_EQ(r.texTmp, &gpu.textures[0].texture);
    EXPECT_EQ(r.texTgt, &gpu.textures[1].texture);
    EXPECT_EQ(r.texSys, &gpu.textures[2].texture);
    const DWORD usages[] = {D3DUSAGE_RENDERTARGET, D3DUSAGE_RENDERTARGET, 0};
    const D3DPOOL pools[] = {D3DPOOL_DEFAULT, D3DPOOL_DEFAULT, D3DPOOL_SYSTEMMEM};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gpu.textures[i].width, 1920u) << "texture " << i;
        EXPECT_EQ(gpu.textures[i].height, 1080u) << "texture " << i;
        EXPECT_EQ(gpu.textures[i].format, D3DFMT_A32B32G32R32F) << "texture " << i;
        EXPECT_EQ(gpu.textures[i].usage, usages[i]) << "texture " << i;
        EXPECT_EQ(gpu.textures[i].pool, pools[i]) << "texture " << i;
    }
    EXPECT_EQ(r.rowBuf, nullptr) << "single precision needs no row buffer";

    ASSERT_NE(r.passRing, nullptr);
    EXPECT_EQ(r.passRing->target, r.texTmp);
    EXPECT_EQ(r.passRing->next->target, r.texTgt);
    EXPECT_EQ(r.passRing->next->next, r.passRing);
    EXPECT_EQ(gpu.textures[0].texture.refs(), 1) << "the ring borrows, it does not count";
}

TEST_F(FrameResourcesTest, HalfPrecisionAllocatesAnAlignedRowOfTexels) {
    ASSERT_TRUE(Build(1000, 10, false, true));
    const Renderer& r = *g_renderer;
    EXPECT_EQ(r.useF16, 1);
    EXPECT_EQ(gpu.textures[0].format, D3DFMT_A16B16G16R16F);
    ASSERT_NE(r.rowBuf, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r.rowBuf) % 16, 0u);
    // The sanitizers catch a buffer shorter than width × 16 bytes.
    std::memset(r.rowBuf, 0, 1000 * 16);
}

TEST_F(FrameResourcesTest, RebuildReleasesThePreviousResources) {
    ASSERT_TRUE(Build(64, 32));
    ASSERT_TRUE(Build(32, 64, true, true));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(gpu.textures[i].texture.refs(), 0) << "old texture " << i;
    EXPECT_EQ(gpu.vertexBuffer.refs(), 1) << "the new quad replaced the old one";
    EXPECT_EQ(gpu.declaration.refs(), 1);
}

TEST_F(FrameResourcesTest, EffectWithoutTemporaryTextureStillBuilds) {
    gpu.parameters.erase("txTmp");
    EXPECT_CALL(gpu.effect, SetTexture(StrEq("txTgt"), _));
    EXPECT_CALL(gpu.effect, SetTexture(StrEq("txTmp"), _)).Times(0);
    EXPECT_TRUE(Build(64, 32));
    EXPECT_TRUE(log.Reports().empty());
}

struct Bounds {
    int32_t width, height, pitch;
    bool builds;
    friend void PrintTo(const Bounds& b, std::ostream* os) {
        *os << b.width << " x " << b.height << " pitch " << b.pitch;
    }
};

class BoundsTest : public FrameResourcesTest, public testing::WithParamInterface<Bounds> {};

TEST_P(BoundsTest, OutOfRangeSizesFailWithoutReportOrChange) {
    const Bounds& b = GetParam();
    g_lastWidth = b.width;
    g_lastHeight = b.height;
    EXPECT_EQ(BuildFrameResources(false, b.pitch, false), b.builds)
        << b.width << " x " << b.height << " pitch " << b.pitch;
    if (!b.builds) {
        EXPECT_TRUE(gpu.textures.empty());
        EXPECT_EQ(g_renderer->width, -1) << "nothing stored";
        EXPECT_TRUE(log.Reports().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BoundsTest,
                         testing::Values(Bounds{4096, 4096, 4096, true}, Bounds{4097, 8, 4097, false},
                                         Bounds{8, 4097, 8, false}, Bounds{-1, 8, 8, false},
                                         Bounds{8, -1, 8, false}, Bounds{100, 8, 99, false},
                                         Bounds{0, 0, -1, false}));

struct FailingStep {
    const char* name;
    void (*arrange)(FakeGpu&);
    size_t texturesCreated;
    uint32_t hr;
    friend void PrintTo(const FailingStep& c, std::ostream* os) { *os << c.name; }
};

class FailingStepTest : public FrameResourcesTest,
                        public testing::WithParamInterface<FailingStep> {};

TEST_P(FailingStepTest, EndsTheBuildWithOneReportAndNoRing) {
    GetParam().arrange(gpu);
    EXPECT_FALSE(Build(64, 32));
    EXPECT_EQ(g_renderer->passRing, nullptr) << GetParam().name;
    EXPECT_EQ(gpu.textures.size(), GetParam().texturesCreated) << GetParam().name;
    const std::vector<Report> reports = log.Reports();
    ASSERT_EQ(reports.size(), 1u) << GetParam().name;
    EXPECT_EQ(reports[0].hr, GetParam().hr) << GetParam().name;
    // The next build starts over and succeeds.
    EXPECT_TRUE(Build(64, 32)) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Build, FailingStepTest,
    testing::Values(
        FailingStep{"Declaration",
                    [](FakeGpu& gpu) {
                        EXPECT_CALL(gpu.device, CreateVertexDeclaration(_, _))
                            .WillOnce(Return(E_OUTOFMEMORY))
                            .WillRepeatedly(testing::DoDefault());
                    },
                    0, 0x8007000E},
        FailingStep{"VertexBufferLock",
                    [](FakeGpu& gpu) {
                        EXPECT_CALL(gpu.vertexBuffer, Lock(_, _, _, _))
                            .WillOnce(Return(D3DERR_INVALIDCALL))
                            .WillRepeatedly(testing::DoDefault());
                        EXPECT_CALL(gpu.vertexBuffer, Unlock()).Times(1);
                    },
                    0, 0x8876086C},
        FailingStep{"TempTexture", [](FakeGpu& gpu) { gpu.failTexture = 1; }, 0, 0x8876017C},
        FailingStep{"TargetTexture", [](FakeGpu& gpu) { gpu.failTexture = 2; }, 1, 0x8876017C},
        FailingStep{"SystemTexture", [](FakeGpu& gpu) { gpu.failTexture = 3; }, 2, 0x8876017C}),
    [](const testing::TestParamInfo<FailingStep>& info) { return info.param.name; });

TEST(NextPow2, RoundsUpToAPowerOfTwoNoLargerThan4096) {
    const int32_t cases[][2] = {{-5, 0}, {0, 0}, {1, 1}, {2, 2},      {3, 4},
                                {1080, 2048}, {2048, 2048}, {3000, 4096}, {4096, 4096}, {4097, 4096},
                                {INT32_MAX, 4096}};
    for (const auto& c : cases) EXPECT_EQ(NextPow2(c[0]), c[1]) << "NextPow2(" << c[0] << ")";
}

TEST(FrameResources, CreatorsRefuseARendererWithoutDevice) {
    Renderer renderer;
    RendererInit(&renderer);
    IDirect3DTexture9* slot = nullptr;
    EXPECT_EQ(CreateQuad(&renderer), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateTempTexture(&renderer, &slot), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateTargetTextures(&renderer, &slot, &slot), D3DERR_INVALIDCALL);
}

}  // namespace
