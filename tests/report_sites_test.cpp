// Every report site of the renderer: its message, its result code, the box it
// asks for, and a line of its own.
#include <map>

#include "tests/fakes/array_allocation.h"
#include "tests/fakes/plugin_harness.h"

namespace {

using testing::_;
using testing::Return;
using testing::StrEq;

struct Site {
    const char* name;
    void (*arrange)(FakeGpu&);
    void (*act)(PluginHarness&);
    const char* message;
    uint32_t hr;
    size_t reports;  // the compiler's text is followed by the failed load
    friend void PrintTo(const Site& c, std::ostream* os) { *os << c.name; }
};

void StartOnly(PluginHarness& h) { h.Start(); }
void StartAndBuild(PluginHarness& h) {
    h.Start();
    h.Build(64, 32);
}
void StartAndSendParameters(PluginHarness& h) {
    h.Start();
    SetEffectParams(h.track);
}
void FailSetVector(FakeGpu& gpu, const char* name) {
    ON_CALL(gpu.effect, SetVector(StrEq(name), _)).WillByDefault(Return(E_FAIL));
}

const Site kSites[] = {
    {"EffectLoad",
     [](FakeGpu& gpu) {
         ON_CALL(gpu.entry, D3DXCreateEffectFromFileW(_, _, _, _, _, _, _, _))
             .WillByDefault(Return(E_FAIL));
     },
     StartOnly, "エフェクトのロードに失敗しました", 0x80004005, 1},
    {"CompilerText",
     [](FakeGpu& gpu) {
         gpu.FailCompile(D3DXERR_INVALIDDATA, "kelo.fx(3,1): error X3000: syntax error");
     },
     StartOnly, "kelo.fx(3,1): error X3000: syntax error", 0x88760B59, 2},
    {"NoDynamicTextures", [](FakeGpu& gpu) { gpu.caps.Caps2 = 0; }, StartOnly,
     "ダイナミックテクスチャが利用できません", 0, 1},
    {"SquareOnly", [](FakeGpu& gpu) { gpu.caps.TextureCaps = D3DPTEXTURECAPS_SQUAREONLY; },
     StartOnly, "非正方テクスチャを利用できません", 0, 1},
    {"PowerOfTwoOnly", [](FakeGpu& gpu) { gpu.caps.TextureCaps = D3DPTEXTURECAPS_POW2; },
     StartOnly, "2の累乗サイズ以外のテクスチャは利用できません", 0, 1},
    {"NoHalfFloatTarget",
     [](FakeGpu& gpu) {
         ON_CALL(gpu.d3d, CheckDeviceFormat(_, _, _, _, _, D3DFMT_A16B16G16R16F))
             .WillByDefault(Return(D3DERR_NOTAVAILABLE));
     },
     StartOnly, "D3DFMT_A16B16G16R16F が利用できません", 0, 1},
    {"NoFloatTarget",
     [](FakeGpu& gpu) {
         ON_CALL(gpu.d3d, CheckDeviceFormat(_, _, _, _, _, D3DFMT_A32B32G32R32F))
             .WillByDefault(Return(D3DERR_NOTAVAILABLE));
     },
     StartOnly, "D3DFMT_A32B32G32R32F が利用できません", 0, 1},
    {"Quad",
     [](FakeGpu& gpu) {
         ON_CALL(gpu.device, CreateVertexBuffer(_, _, _, _, _, _))
             .WillByDefault(Return(D3DERR_OUTOFVIDEOMEMORY));
     },
     StartAndBuild, "頂点のセットに失敗しました", 0x8876017C, 1},
    {"TempTexture", [](FakeGpu& gpu) { gpu.failTexture = 1; }, StartAndBuild,
     "テクスチャの作成に失敗しました", 0x8876017C, 1},
    {"TargetTextures", [](FakeGpu& gpu) { gpu.failTexture = 2; }, StartAndBuild,
     "テクスチャの作成に失敗しました", 0x8876017C, 1},
    {"BindTarget",
     [](FakeGpu& gpu) {
         ON_CALL(gpu.effect, SetTexture(StrEq("txTgt"), _)).WillByDefault(Return(D3DERR_INVALIDCALL));
     },
     StartAndBuild, "テクスチャのセットに失敗しました", 0x8876086C, 1},
    {"BindTemporary",
     [](FakeGpu& gpu) {
         ON_CALL(gpu.effect, SetTexture(StrEq("txTmp"), _)).WillByDefault(Return(D3DERR_INVALIDCALL));
     },
     StartAndBuild, "テクスチャのセットに失敗しました", 0x8876086C, 1},
    {"RowBuffer", [](FakeGpu&) {},
     [](PluginHarness& h) {
         h.Start();
         FailNothrowArrayAllocation(1);
         h.Build(64, 32, false, true);
     },
     "変換用メモリの確保に失敗しました", 0x8007000E, 1},
    {"PassRing", [](FakeGpu&) {},
     [](PluginHarness& h) {
         h.Start();
         FailNothrowArrayAllocation(1);
         h.Build(64, 32);
     },
     "メモリの確保に失敗しました", 0x8007000E, 1},
    {"YcOffs", [](FakeGpu& gpu) { FailSetVector(gpu, "ycOffs"); }, StartAndSendParameters,
     "パラメータのセットに失敗しました", 0x80004005, 1},
    {"YcAmp", [](FakeGpu& gpu) { FailSetVector(gpu, "ycAmp"); }, StartAndSendParameters,
     "パラメータのセットに失敗しました", 0x80004005, 1},
    {"BgrOffs", [](FakeGpu& gpu) { FailSetVector(gpu, "bgrOffs"); }, StartAndSendParameters,
     "パラメータのセットに失敗しました", 0x80004005, 1},
    {"BgrAmp", [](FakeGpu& gpu) { FailSetVector(gpu, "bgrAmp"); }, StartAndSendParameters,
     "パラメータのセットに失敗しました", 0x80004005, 1},
    {"BgrGamma", [](FakeGpu& gpu) { FailSetVector(gpu, "bgrGamma"); }, StartAndSendParameters,
     "パラメータのセットに失敗しました", 0x80004005, 1},
    {"SurfaceLevel", [](FakeGpu&) {},
     [](PluginHarness& h) {
         StartAndBuild(h);
         h.gpu.surfaceFailure = D3DERR_INVALIDCALL;
         RenderPasses();
     },
     "GetSurfaceLevel", 0x8876086C, 1},
};

// Runs one site's scenario from load to shut-down and returns its reports.
std::vector<Report> Trigger(const Site& site, int* boxes = nullptr) {
    PluginHarness harness;
    site.arrange(harness.gpu);
    site.act(harness);
    FilterExit(&harness.filter);
    harness.gpu.ExpectEverythingReleased();
    if (boxes != nullptr) *boxes = harness.log.boxes();
    return harness.log.Reports();
}

class ReportSiteTest : public testing::TestWithParam<Site> {};

TEST_P(ReportSiteTest, ReportsItsMessageAndResultWithABox) {
    const Site& site = GetParam();
    int boxes = 0;
    const std::vector<Report> reports = Trigger(site, &boxes);
    ASSERT_EQ(reports.size(), site.reports) << site.name << ": number of reports";
    EXPECT_GT(reports[0].line, 0) << site.name << ": not a report line: " << reports[0].message;
    EXPECT_EQ(reports[0].message, site.message) << site.name;
    EXPECT_EQ(reports[0].hr, site.hr) << site.name << std::hex << ": result code 0x"
                                      << reports[0].hr;
    EXPECT_EQ(boxes, static_cast<int>(site.reports)) << site.name << ": message boxes";
}

INSTANTIATE_TEST_SUITE_P(AllSites, ReportSiteTest, testing::ValuesIn(kSites),
                         [](const testing::TestParamInfo<Site>& info) { return info.param.name; });

TEST(ReportSites, EachSiteHasALineOfItsOwn) {
    std::map<int, const char*> siteAtLine;
    for (const Site& site : kSites) {
        const std::vector<Report> reports = Trigger(site);
        ASSERT_FALSE(reports.empty()) << site.name << ": no report";
        auto [entry, added] = siteAtLine.emplace(reports[0].line, site.name);
        EXPECT_TRUE(added) << site.name << " reports line " << reports[0].line << " like "
                           << entry->second;
    }
}

TEST(ReportSites, LoadFailureFollowsTheCompilerTextWithTheSameCode) {
    const std::vector<Report> reports = Trigger(kSites[1]);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].message, "エフェクトのロードに失敗しました");
    EXPECT_EQ(reports[1].hr, reports[0].hr);
}

}  // namespace
