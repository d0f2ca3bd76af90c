// Start-up and shut-down: the exact calls of FilterInit, the device checks,
// the effect's loading, and the references left after FilterExit.
#include "tests/fakes/plugin_harness.h"

namespace {

using testing::_;
using testing::DoAll;
using testing::Return;
using testing::SaveArgPointee;

class StartupTest : public PluginTest {};

TEST_F(StartupTest, CreatesTheDeviceWithTheExpectedArguments) {
    D3DPRESENT_PARAMETERS presentation;
    std::memset(&presentation, 0xCD, sizeof presentation);
    EXPECT_CALL(gpu.entry, Direct3DCreate9(32));
    EXPECT_CALL(gpu.d3d, CreateDevice(0, D3DDEVTYPE_HAL, filter.hwnd, 0x822u, _, _))
        .WillOnce(DoAll(SaveArgPointee<4>(&presentation),
                        [this](auto, auto, auto, auto, auto, IDirect3DDevice9** out) {
                            gpu.device.AddRef();
                            *out = &gpu.device;
                            return S_OK;
                        }));
    EXPECT_CALL(gpu.d3d, GetDeviceCaps(0, D3DDEVTYPE_HAL, _));
    EXPECT_CALL(gpu.entry, D3DXCreateEffectFromFileW(&gpu.device, _, nullptr, nullptr, 0u,
                                                     nullptr, _, _));

    ASSERT_TRUE(Start());
    D3DPRESENT_PARAMETERS expected;
    std::memset(&expected, 0, sizeof expected);
    expected.SwapEffect = D3DSWAPEFFECT_DISCARD;
    expected.Windowed = TRUE;
    expected.BackBufferFormat = D3DFMT_UNKNOWN;
    EXPECT_EQ(std::memcmp(&presentation, &expected, sizeof expected), 0)
        << "presentation parameters other than zero, SwapEffect, Windowed and BackBufferFormat";
    EXPECT_EQ(g_renderer->d3d, &gpu.d3d);
    EXPECT_EQ(g_renderer->device, &gpu.device);
    EXPECT_EQ(g_renderer->effect, &gpu.effect);
    EXPECT_EQ(gpu.d3d.refs(), 2) << "the globals and the renderer each hold the Direct3D object";
    EXPECT_EQ(gpu.device.refs(), 2) << "the globals and the renderer each hold the device";
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(StartupTest, RendererStartsWithItsInitialValues) {
    ASSERT_TRUE(Start());
    const Renderer& r = *g_renderer;
    EXPECT_EQ(r.passRing, nullptr);
    EXPECT_EQ(r.rowBuf, nullptr);
    EXPECT_EQ(r.texTgt, nullptr);
    EXPECT_EQ(r.vbQuad, nullptr);
    EXPECT_EQ(r.effectPool, nullptr);
    for (int32_t value : {r.width, r.height, r.pitch, r.texWidth, r.texHeight}) EXPECT_EQ(value, -1);
    EXPECT_EQ(r.useF16, 3);
    EXPECT_EQ(r.usePow2, 0);
    EXPECT_EQ(r.useSimd, DetectSimd() ? 1 : 0);
}

TEST_F(StartupTest, NoDirect3DFailsWithoutReport) {
    ON_CALL(gpu.entry, Direct3DCreate9(_)).WillByDefault(Return(nullptr));
    EXPECT_FALSE(Start());
    EXPECT_EQ(g_renderer, nullptr);
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(StartupTest, RefusedDeviceFailsWithoutReportAndKeepsTheDirect3DObjectUntilExit) {
    ON_CALL(gpu.d3d, CreateDevice(_, _, _, _, _, _)).WillByDefault(Return(D3DERR_NOTAVAILABLE));
    EXPECT_FALSE(Start());
    EXPECT_EQ(g_renderer, nullptr);
    EXPECT_EQ(gpu.d3d.refs(), 1);
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(StartupTest, FailedCapsQueryFailsWithoutReport) {
    ON_CALL(gpu.d3d, GetDeviceCaps(_, _, _)).WillByDefault(Return(D3DERR_INVALIDDEVICE));
    EXPECT_FALSE(Start());
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(StartupTest, FailedDisplayModeQueryFailsWithoutReport) {
    ON_CALL(gpu.device, GetDisplayMode(_, _)).WillByDefault(Return(D3DERR_DEVICELOST));
    EXPECT_FALSE(Start());
    EXPECT_NE(g_renderer, nullptr) << "the renderer stays until FilterExit";
    EXPECT_EQ(g_renderer->effect, nullptr) << "the effect is not loaded after a failed check";
    EXPECT_TRUE(log.Reports().empty());
}

struct CapsCase {
    const char* name;
    DWORD textureCaps;
    bool starts;
    size_t reports;
    friend void PrintTo(const CapsCase& c, std::ostream* os) { *os << c.name; }
};

class CapabilityTest : public PluginTest, public testing::WithParamInterface<CapsCase> {};

TEST_P(CapabilityTest, DecidesStartUp) {
    gpu.caps.TextureCaps = GetParam().textureCaps;
    EXPECT_EQ(Start(), GetParam().starts) << GetParam().name;
    EXPECT_EQ(log.Reports().size(), GetParam().reports) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    TextureCaps, CapabilityTest,
    testing::Values(CapsCase{"Any", 0, true, 0},
                    CapsCase{"SquareOnly", D3DPTEXTURECAPS_SQUAREONLY, false, 1},
                    CapsCase{"Pow2", D3DPTEXTURECAPS_POW2, false, 1},
                    CapsCase{"Pow2WithConditional",
                             D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL, true, 0}),
    [](const testing::TestParamInfo<CapsCase>& info) { return info.param.name; });

TEST_F(StartupTest, NoDynamicTexturesFailsBeforeTheOtherChecks) {
    gpu.caps.Caps2 = 0;
    EXPECT_CALL(gpu.device, GetDisplayMode(_, _)).Times(0);
    EXPECT_FALSE(Start());
    EXPECT_EQ(log.Reports().size(), 1u);
}

TEST_F(StartupTest, MissingHalfFloatTargetIsReportedOnceAndStartUpGoesOn) {
    gpu.caps.AdapterOrdinal = 1;
    EXPECT_CALL(gpu.d3d, CheckDeviceFormat(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET,
                                           D3DRTYPE_TEXTURE, D3DFMT_A16B16G16R16F))
        .WillOnce(Return(D3DERR_NOTAVAILABLE));
    EXPECT_CALL(gpu.d3d, CheckDeviceFormat(_, _, _, _, _, D3DFMT_A32B32G32R32F)).Times(0);
    EXPECT_TRUE(Start());
    EXPECT_EQ(log.Reports().size(), 1u);
}

TEST_F(StartupTest, MissingEffectReportsTheCompilerTextThenTheLoadFailure) {
    gpu.FailCompile(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "kelo.fx: file not found");
    EXPECT_FALSE(Start());
    const std::vector<Report> reports = log.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].message, "kelo.fx: file not found");
    EXPECT_EQ(reports[0].hr, 0x80070002u);
    EXPECT_EQ(reports[1].message, "エフェクトのロードに失敗しました");
    EXPECT_EQ(reports[1].hr, 0x80070002u);
}

struct CompilerTextCase {
    const char* name;
    std::string text;
    DWORD size;
    std::string reported;  // empty: only the load failure is reported
    friend void PrintTo(const CompilerTextCase& c, std::ostream* os) { *os << c.name; }
};

class CompilerTextTest : public PluginTest, public testing::WithParamInterface<CompilerTextCase> {};

TEST_P(CompilerTextTest, IsWidenedCutAndReported) {
    const CompilerTextCase& c = GetParam();
    gpu.FailCompile(E_FAIL, c.text, c.size);
    EXPECT_FALSE(Start());
    const std::vector<Report> reports = log.Reports();
    ASSERT_EQ(reports.size(), c.reported.empty() ? 1u : 2u) << c.name;
    EXPECT_EQ(reports[0].message, c.reported.empty() ? "エフェクトのロードに失敗しました" : c.reported)
        << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Effect, CompilerTextTest,
    testing::Values(
        // Bytes above 127 become the characters of the same value (Latin-1 in UTF-8 here).
        CompilerTextCase{"ByteForByte", "e\xE9", 3, "e\xC3\xA9"},
        CompilerTextCase{"NoTerminatorWithinSize", "abcdef", 4, "abc"},
        CompilerTextCase{"ZeroSizeBuffer", "abcdef", 0, ""},
        CompilerTextCase{"LongTextCutTo1023", std::string(2000, 'x'), 2001, std::string(1023, 'x')},
        CompilerTextCase{"Exactly1023", std::string(1023, 'y'), 1024, std::string(1023, 'y')}),
    [](const testing::TestParamInfo<CompilerTextCase>& info) { return info.param.name; });

TEST_F(StartupTest, WarningsBufferOfASuccessfulCompileIsReleased) {
    gpu.FailCompile(S_OK, "warning X3206");
    ON_CALL(gpu.entry, D3DXCreateEffectFromFileW(_, _, _, _, _, _, _, _))
        .WillByDefault([this](auto, auto, auto, auto, auto, auto, LPD3DXEFFECT* effect,
                              LPD3DXBUFFER* errors) {
            gpu.effect.AddRef();
            *effect = &gpu.effect;
            gpu.compilerErrors.AddRef();
            *errors = &gpu.compilerErrors;
            return S_OK;
        });
    EXPECT_TRUE(Start());
    EXPECT_EQ(gpu.compilerErrors.refs(), 0);
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(StartupTest, ExitReleasesEverythingAndMayRunTwice) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Build(64, 32, true, true));
    EXPECT_TRUE(FilterExit(&filter));
    EXPECT_EQ(g_renderer, nullptr);
    EXPECT_EQ(g_device, nullptr);
    EXPECT_EQ(g_d3d, nullptr);
    gpu.ExpectEverythingReleased();
    EXPECT_TRUE(FilterExit(&filter));
}

TEST_F(StartupTest, ExitWithoutInitDoesNothing) { EXPECT_TRUE(FilterExit(&filter)); }

TEST_F(StartupTest, AttachDeviceSwapsTheRenderersReferences) {
    ASSERT_TRUE(Start());
    EXPECT_TRUE(AttachDevice());
    EXPECT_EQ(gpu.d3d.refs(), 2);
    EXPECT_EQ(gpu.device.refs(), 2);
    EXPECT_EQ(gpu.effect.refs(), 1) << "the effect loaded again replaces the first";
}

TEST(Renderer, ReleaseOfAFreshRendererReleasesNothing) {
    Renderer renderer;
    RendererInit(&renderer);
    RendererRelease(&renderer);
    RendererRelease(&renderer);
    EXPECT_EQ(renderer.device, nullptr);
    EXPECT_EQ(CheckDeviceCaps(&renderer), D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadEffect(&renderer), D3DERR_INVALIDCALL);
}

}  // namespace
