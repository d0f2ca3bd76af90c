// Effect files the plug-in must cope with: ones that do not compile, ones
// without the technique or parameters it looks for, and any number of passes.
#include <string>

#include "tests/e2e/plugin_session.h"
#include "tests/fakes/report_log.h"

namespace {

constexpr char kLoadFailed[] = "エフェクトのロードに失敗しました";

class EffectErrorsTest : public PluginTest {
protected:
    // FilterInit fails; the compiler's text names kelo.fx at the line and
    // ends with its code (its lines are one report), then the load report
    // follows with the same code.
    void ExpectLoadFailure(const std::string& effect, int line, const std::string& words) {
        WriteEffect(effect);
        ReportLog log;
        EXPECT_FALSE(Init());
        const std::vector<Report> reports = log.Reports();
        ASSERT_FALSE(reports.empty());
        std::string all;
        for (const Report& report : reports) all += report.message + "\n";
        const std::string place = "kelo.fx(" + std::to_string(line) + ",";
        const size_t at = all.find(place);
        ASSERT_NE(at, std::string::npos) << "no report names " << place << ":\n" << all;
        EXPECT_NE(all.find(words, at), std::string::npos) << all;
        const size_t code = all.find("hr=E_FAIL (0x80004005)", at);
        EXPECT_LT(code, all.rfind(kLoadFailed)) << "the compiler's text ends without its code:\n"
                                                << all;
        const Report& last = reports.back();
        EXPECT_EQ(last.message, kLoadFailed) << all;
        EXPECT_EQ(last.hr, uint32_t(E_FAIL)) << all;
    }
};

TEST_F(EffectErrorsTest, HlslSyntaxErrorIsReportedWithItsLine) {
    ExpectLoadFailure(R"(texture txTgt;
sampler sTgt = sampler_state { Texture = <txTgt>; };
float4 Copy(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(sTgt, uv) +* 2;
}
technique ColorCorrection { pass { PixelShader = compile ps_2_0 Copy(); } }
)",
                      5, "error: 'expression' : Expected");
}

TEST_F(EffectErrorsTest, EffectSyntaxErrorIsReportedWithItsLine) {
    ExpectLoadFailure(R"(texture txTgt;
sampler sTgt = sampler_state { Texture = <txTgt>; };
float4 Copy(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTgt, uv); }
technique ColorCorrection
{
    pass { PixelShader = compile ps_2_0 Copy() }
}
)",
                      6, "syntax error: unexpected token '}'");
}

// A pass adds its own amount to Y (in units of 1/4096), so what comes back
// tells which passes reached the texture that is read back.
std::string PassEffect(const std::string& techniques) {
    return R"(
texture txTgt;
texture txTmp;
sampler sTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; };
sampler sTmp = sampler_state { Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; };
float4 AddToTgt(float2 uv : TEXCOORD0, uniform float units) : COLOR0 { return tex2D(sTgt, uv) + float4(0, units / 4096.0, 0, 0); }
float4 AddToTmp(float2 uv : TEXCOORD0, uniform float units) : COLOR0 { return tex2D(sTmp, uv) + float4(0, units / 4096.0, 0, 0); }
)" + techniques;
}

class PassCountTest : public PluginTest {
protected:
    // The Y that comes back for a pixel of Y 1000.
    int16_t ReturnedY(const std::string& techniques) {
        WriteEffect(PassEffect(techniques));
        ReportLog log;
        EXPECT_TRUE(Init());
        HostFrame frame = MakeHostFrame(3, 2);
        frame.at(2, 1) = {1000, 7, -7};
        EXPECT_TRUE(Proc(&frame));
        EXPECT_EQ(frame.at(2, 1).cb, 7);
        EXPECT_EQ(log.Reports().size(), 0u) << "reports: " << log.Reports()[0].message;
        return frame.at(2, 1).y;
    }
};

// Pass i draws into txTmp when i is even, into txTgt when odd, and txTgt is
// read back: an odd last pass's work is lost, none at all returns the frame.
TEST_F(PassCountTest, NoPassReturnsTheFrame) {
    EXPECT_EQ(ReturnedY("technique ColorCorrection { }"), 1000);
}
TEST_F(PassCountTest, OnePassReturnsTheFrame) {
    EXPECT_EQ(ReturnedY(R"(technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 AddToTgt(1); } })"),
              1000);
}
TEST_F(PassCountTest, TwoPassesReturnTheSecond) {
    EXPECT_EQ(ReturnedY(R"(technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 AddToTgt(1); }
    pass { PixelShader = compile ps_2_0 AddToTmp(2); } })"),
              1003);
}
TEST_F(PassCountTest, ThreePassesReturnTheSecond) {
    EXPECT_EQ(ReturnedY(R"(technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 AddToTgt(1); }
    pass { PixelShader = compile ps_2_0 AddToTmp(2); }
    pass { PixelShader = compile ps_2_0 AddToTgt(4); } })"),
              1003);
}

// As with D3DX, the effect's first technique is current and a request for a
// missing name leaves it so.
TEST_F(PassCountTest, WithoutColorCorrectionTheFirstTechniqueRuns) {
    EXPECT_EQ(ReturnedY(R"(technique First {
    pass { PixelShader = compile ps_2_0 AddToTgt(8); }
    pass { PixelShader = compile ps_2_0 AddToTmp(16); } }
technique Second {
    pass { PixelShader = compile ps_2_0 AddToTgt(32); }
    pass { PixelShader = compile ps_2_0 AddToTmp(64); } })"),
              1024);
}

// Only ycAmp is declared: the other four vectors are not sent, and nothing
// is reported at start-up, for the frame or for a moved track.
TEST_F(EffectErrorsTest, MissingParametersAreSkippedSilently) {
    WriteEffect(R"(
float4 ycAmp;
texture txTgt;
texture txTmp;
sampler sTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; };
sampler sTmp = sampler_state { Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; };
float4 Scale(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTgt, uv) * ycAmp; }
float4 Copy(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTmp, uv); }
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 Scale(); }
    pass { PixelShader = compile ps_2_0 Copy(); }
}
)");
    ReportLog log;
    ASSERT_TRUE(Init());
    for (int32_t gain : {0, 256}) {
        for (int i = 0; i < KELO_TRACK_COUNT; ++i) track[i] = i == 1 ? gain : 100;
        HostFrame frame = MakeHostFrame(2, 2);
        frame.at(1, 1) = {1000, 100, -100};
        ASSERT_TRUE(Proc(&frame));
        EXPECT_EQ(frame.at(1, 1).y, gain == 0 ? 1000 : 2000) << "Y gain track " << gain;
        EXPECT_EQ(frame.at(1, 1).cb, 139) << "Cb gain track 100: 100 x 356 / 256";
    }
    EXPECT_EQ(log.Reports().size(), 0u);
    EXPECT_EQ(log.boxes(), 0);
}

}  // namespace
