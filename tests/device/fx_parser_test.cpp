// The effect syntax: what the parser finds, what it hands the HLSL compiler,
// and where it says a file is wrong.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/d3dx9/fx_parser.h"

namespace {

const char kEffect[] = R"(// comment with technique inside
#define GAIN 2
string Title = "kelo";
texture txTgt < string UIName = "target"; >;
sampler smp = sampler_state { Texture = <txTgt>; MinFilter = LINEAR; MagFilter = Point;
                              AddressU = MIRROR; AddressV = wrap; BorderColor = 0; };
uniform float4 ycAmp : register(c0) = float4(0, 1, -2.5, 4e1);
bool enabled = true;
static const float kHidden = 3;
float4x4 matrix3 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
float weights[3];
float4 Shade(float2 uv : TEXCOORD1, uniform float k, uniform float2 offset) : COLOR0 {
    return tex2D(smp, uv) * k * GAIN;
}
technique ColorCorrection < string Note = "x"; > {
    pass First < int Order = 0; > {
        PixelShader = compile ps_2_0 Shade(0.5, float2(1, -2));
        VertexShader = NULL;
        CullMode = None;
        Sampler[0] = <smp>;
    }
    Pass { PIXELSHADER = compile ps_2_b Shade(1, {3, 4}); }
}
Technique Empty { }
)";

const FxParameter* Find(const FxEffect& effect, const std::string& name) {
    for (const FxParameter& parameter : effect.parameters) {
        if (parameter.name == name) return &parameter;
    }
    return nullptr;
}

}  // namespace

TEST(FxParserTest, FindsParametersSamplersAndTheirInitialValues) {
    FxEffect effect;
    std::string messages;
    ASSERT_TRUE(ParseEffect(kEffect, "k.fx", &effect, &messages)) << messages;

    ASSERT_NE(Find(effect, "Title"), nullptr);
    EXPECT_EQ(Find(effect, "Title")->kind, ParameterKind::String);
    ASSERT_NE(Find(effect, "txTgt"), nullptr);
    EXPECT_EQ(Find(effect, "txTgt")->kind, ParameterKind::Texture);

    const FxParameter* sampler = Find(effect, "smp");
    ASSERT_NE(sampler, nullptr);
    EXPECT_EQ(sampler->kind, ParameterKind::Sampler);
    EXPECT_EQ(sampler->sampler.texture, "txTgt");
    EXPECT_EQ(sampler->sampler.minFilter, SamplerFilter::Linear);
    EXPECT_EQ(sampler->sampler.magFilter, SamplerFilter::Point);
    EXPECT_EQ(sampler->sampler.addressU, SamplerAddress::Mirror);
    EXPECT_EQ(sampler->sampler.addressV, SamplerAddress::Wrap);

    const FxParameter* amp = Find(effect, "ycAmp");
    ASSERT_NE(amp, nullptr);
    EXPECT_EQ(amp->values, (std::vector<float>{0, 1, -2.5f, 40}));
    EXPECT_EQ(Find(effect, "enabled")->values, std::vector<float>{1});
    EXPECT_EQ(Find(effect, "kHidden"), nullptr) << "static globals are not parameters";
    const FxParameter* matrix = Find(effect, "matrix3");
    ASSERT_NE(matrix, nullptr);
    EXPECT_EQ(matrix->rows, 4u);
    EXPECT_EQ(matrix->columns, 4u);
    EXPECT_EQ(matrix->values[4], 5.0f) << "row 1, column 0";
    EXPECT_EQ(Find(effect, "weights")->elements, 3u);
    EXPECT_EQ(Find(effect, "weights")->values.size(), 3u);
}

TEST(FxParserTest, FindsTechniquesPassesAndCompileArguments) {
    FxEffect effect;
    std::string messages;
    ASSERT_TRUE(ParseEffect(kEffect, "k.fx", &effect, &messages)) << messages;
    ASSERT_EQ(effect.techniques.size(), 2u);
    EXPECT_EQ(effect.techniques[0].name, "ColorCorrection");
    EXPECT_EQ(effect.techniques[1].name, "Empty");
    EXPECT_TRUE(effect.techniques[1].passes.empty());
    ASSERT_EQ(effect.techniques[0].passes.size(), 2u);
    const FxPass& first = effect.techniques[0].passes[0];
    EXPECT_EQ(first.name, "First");
    EXPECT_TRUE(first.pixelShader.present);
    EXPECT_FALSE(first.vertexShader.present) << "VertexShader = NULL";
    EXPECT_EQ(first.pixelShader.profile, "ps_2_0");
    EXPECT_EQ(first.pixelShader.entry, "Shade");
    EXPECT_EQ(first.pixelShader.line, 17u);
    ASSERT_EQ(first.pixelShader.arguments.size(), 2u);
    EXPECT_EQ(first.pixelShader.arguments[1], (std::vector<float>{1, -2}));
    EXPECT_EQ(effect.techniques[0].passes[1].pixelShader.profile, "ps_2_b");

    ASSERT_EQ(effect.functions.size(), 1u);
    EXPECT_EQ(effect.functions[0].uniformParameters, (std::vector<std::string>{"k", "offset"}));
}

TEST(FxParserTest, HandsTheCompilerTheHlslLineForLine) {
    FxEffect effect;
    std::string messages;
    ASSERT_TRUE(ParseEffect(kEffect, "k.fx", &effect, &messages)) << messages;
    const std::string source = kEffect;
    EXPECT_EQ(std::count(effect.hlsl.begin(), effect.hlsl.end(), '\n'),
              std::count(source.begin(), source.end(), '\n'));
    for (const char* gone : {"technique", "sampler_state", "texture", "string", "UIName", "pass",
                             "register(c0) =", "float4(0, 1"}) {
        EXPECT_EQ(effect.hlsl.find(gone, effect.hlsl.find('\n')), std::string::npos)
            << gone << " in\n" << effect.hlsl;
    }
    for (const char* kept : {"#define GAIN 2", "sampler2D smp;", "uniform float4 ycAmp : register(c0)",
                             "static const float kHidden = 3;", "return tex2D(smp, uv) * k * GAIN;"}) {
        EXPECT_NE(effect.hlsl.find(kept), std::string::npos) << kept << " in\n" << effect.hlsl;
    }
    // The function keeps its line: line 12 of the file.
    size_t line = std::count(effect.hlsl.begin(),
                             effect.hlsl.begin() + effect.hlsl.find("float4 Shade"), '\n');
    EXPECT_EQ(line + 1, 12u);
}

TEST(FxParserTest, SaysWhereTheFileIsWrong) {
    struct Case {
        const char* source;
        const char* message;
    };
    const Case cases[] = {
        {"technique T {\n  pass { PixelShader = compile ps_2_0 ; }\n}",
         "bad.fx(2,39): error X3000: syntax error: unexpected token ';'"},
        {"sampler s = sampler_state {\n AddressU = SIDEWAYS; };",
         "bad.fx(2,13): error X3000: invalid address mode 'SIDEWAYS'"},
        {"technique T { pass { PixelShader = compile vs_2_0 F(); } }",
         "bad.fx(1,44): error X3000: invalid profile 'vs_2_0'"},
        {"float4 a;\nfloat4 a;", "bad.fx(2,1): error X3000: redefinition of 'a'"},
        {"technique T { pass {", "bad.fx(1,21): error X3000: unexpected end of file"},
        {"/* never closed", "bad.fx(1,1): error X3000: syntax error: unexpected token '/*'"},
        {"float4 F() { return 1;", "bad.fx(1,23): error X3000: unexpected end of file"},
    };
    for (const Case& c : cases) {
        FxEffect effect;
        std::string messages;
        EXPECT_FALSE(ParseEffect(c.source, "bad.fx", &effect, &messages)) << c.source;
        EXPECT_EQ(messages, std::string(c.message) + "\n") << c.source;
    }
}
