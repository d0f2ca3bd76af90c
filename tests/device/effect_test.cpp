// The effect framework on the stand-in device: .fx files written by the tests,
// loaded with D3DXCreateEffectFromFileW and run the way the plug-in runs them.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/device/effect_runner.h"

namespace {

constexpr D3DFORMAT kFloatFormats[] = {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F};

bool IsHalf(D3DFORMAT format) { return format == D3DFMT_A16B16G16R16F; }

const std::string kSamplers = R"(
texture txTgt;
texture txTmp < string UIName = "temporary"; >;
sampler2D smpTgt = sampler_state {
    Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; MipFilter = NONE;
    AddressU = CLAMP; AddressV = CLAMP;
};
sampler smpTmp = sampler_state {
    Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP;
};
float4 FromTgt(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(smpTgt, uv); }
float4 FromTmp(float2 uv0 : TEXCOORD0, float2 uv1 : TEXCOORD1) : COLOR0 {
    return tex2D(smpTmp, uv1);
}
)";

const std::string kIdentityTwoPass = kSamplers + R"(
technique ColorCorrection {
    pass P0 { PixelShader = compile ps_2_0 FromTgt(); }
    pass P1 { PixelShader = compile ps_2_0 FromTmp(); ZEnable = false; }
}
)";

const std::string kIdentityOnePass = kSamplers + R"(
technique ColorCorrection { pass { PixelShader = compile ps_2_0 FromTgt(); } }
)";

float FloatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// All 65,536 values of each component, spread over the image; in half
// precision the bit patterns themselves, in single precision the host's
// 16-bit integers on the texture scale.
Image AllValues(UINT width, UINT height, bool half) {
    Image image = MakeImage(width, height, half);
    uint32_t n = 0;
    for (UINT y = 0; y < height; ++y) {
        for (UINT x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                uint16_t pattern = static_cast<uint16_t>(n + c * 16411u);
                image.SetBits(x, y, c,
                              half ? pattern
                                   : FloatBits(static_cast<int16_t>(pattern) / 4096.0f));
            }
            ++n;
        }
    }
    return image;
}

// Half-precision NaNs may come back with another payload; everything else
// must come back with the same bits.
::testing::AssertionResult SameValues(const Image& expected, const Image& actual) {
    if (expected.componentBytes == 4) return SameBits(expected, actual);
    Image comparable = actual;
    for (UINT y = 0; y < expected.height; ++y) {
        for (UINT x = 0; x < expected.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                uint32_t want = expected.Bits(x, y, c);
                uint32_t got = actual.Bits(x, y, c);
                bool bothNaN = (want & 0x7C00) == 0x7C00 && (want & 0x3FF) != 0 &&
                               (got & 0x7C00) == 0x7C00 && (got & 0x3FF) != 0;
                if (bothNaN) comparable.SetBits(x, y, c, want);
            }
        }
    }
    return SameBits(expected, comparable);
}

class EffectTest : public DeviceTest {};

}  // namespace

TEST_F(EffectTest, IdentityPassesReturnEveryValueUnchanged) {
    std::string twoPass = WriteEffectFile("identity2.fx", kIdentityTwoPass);
    std::string onePass = WriteEffectFile("identity1.fx", kIdentityOnePass);
    for (D3DFORMAT format : kFloatFormats) {
        for (auto [width, height] : {std::pair{256u, 256u}, {1u, 1u}, {1921u, 1081u}}) {
            SCOPED_TRACE(::testing::Message() << width << "x" << height << " format " << format);
            Image image = AllValues(width, height, IsHalf(format));
            EffectRunner runner(device_, width, height, format);

            ASSERT_EQ(runner.Load(twoPass), D3D_OK);
            PassResults two = runner.Run(image);
            ASSERT_EQ(two.result, D3D_OK);
            EXPECT_EQ(two.passes, 2u);
            EXPECT_TRUE(SameValues(image, two.temporary)) << "after pass 0";
            EXPECT_TRUE(SameValues(image, two.target)) << "after pass 1";

            ASSERT_EQ(runner.Load(onePass), D3D_OK);
            PassResults one = runner.Run(image);
            ASSERT_EQ(one.result, D3D_OK);
            EXPECT_EQ(one.passes, 1u);
            EXPECT_TRUE(SameValues(image, one.temporary)) << "pass 0's output";
            EXPECT_TRUE(SameValues(image, one.target)) << "the uploaded frame";
        }
    }
}

TEST_F(EffectTest, OddPassesReadWhatEvenPassesWrote) {
    std::string path = WriteEffectFile("chain.fx", kSamplers + R"(
float4 Twice(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(smpTgt, uv) * 2; }
float4 PlusOne(float2 uv : TEXCOORD1) : COLOR0 { return tex2D(smpTmp, uv) + 1; }
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 Twice(); }
    pass { PixelShader = compile ps_2_0 PlusOne(); }
    pass { PixelShader = compile ps_2_0 Twice(); }
}
)");
    EffectRunner runner(device_, 3, 2, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(runner.Load(path), D3D_OK);
    Image image = MakeImage(3, 2, false);
    for (UINT i = 0; i < 24; ++i) image.SetBits(i / 4 % 3, i / 12, i % 4, FloatBits(i * 0.25f));
    PassResults results = runner.Run(image);
    ASSERT_EQ(results.result, D3D_OK);
    ASSERT_EQ(results.passes, 3u);
    for (UINT i = 0; i < 24; ++i) {
        UINT x = i / 4 % 3, y = i / 12;
        int c = static_cast<int>(i % 4);
        float pass1 = i * 0.25f * 2 + 1;
        EXPECT_EQ(FloatOf(results.target.Bits(x, y, c)), pass1)
            << "txTgt holds pass 1's output at (" << x << ", " << y << ") component " << c;
        EXPECT_EQ(FloatOf(results.temporary.Bits(x, y, c)), pass1 * 2)
            << "txTmp holds pass 2's output at (" << x << ", " << y << ") component " << c;
    }
}

TEST_F(EffectTest, ParametersReachTheShaderAtTheirOwnSize) {
    std::string path = WriteEffectFile("parameters.fx", R"(
float a = 0.25;
float4 v < string UIName = "vector"; >;
float b;
float2 c = float2(3, 4);
float4 unused = {9, 9, 9, 9};
float4 PS(float2 uv : TEXCOORD0) : COLOR0 { return float4(a, b, c) + v; }
technique ColorCorrection { pass { PixelShader = compile ps_2_0 PS(); } }
)");
    EffectRunner runner(device_, 2, 2, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(runner.Load(path), D3D_OK);
    ID3DXEffect* effect = runner.effect();
    D3DXHANDLE v = effect->GetParameterByName(nullptr, "v");
    D3DXHANDLE b = effect->GetParameterByName(nullptr, "b");
    ASSERT_NE(v, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(effect->GetParameterByName(nullptr, "ycOffs"), nullptr) << "not declared";
    const D3DXVECTOR4 vector{10, 20, 30, 40};
    const D3DXVECTOR4 scalar{5, 99, 99, 99};
    ASSERT_EQ(effect->SetVector(v, &vector), D3D_OK);
    ASSERT_EQ(effect->SetVector("b", &scalar), D3D_OK) << "a name serves as a handle";

    PassResults results = runner.Run(MakeImage(2, 2, false));
    ASSERT_EQ(results.result, D3D_OK);
    const float expected[4] = {10.25f, 25, 33, 44};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(FloatOf(results.temporary.Bits(1, 1, c)), expected[c]) << "component " << c;
    }
}

TEST_F(EffectTest, ReportsCompileErrorsAtTheLinesOfTheEffectFile) {
    EffectRunner runner(device_, 4, 4, D3DFMT_A32B32G32R32F);
    std::string messages;
    std::string hlslError = WriteEffectFile("hlsl_error.fx", kSamplers + R"(
float4 Broken(float2 uv : TEXCOORD0) : COLOR0 {
    return undeclared;
}
technique ColorCorrection { pass { PixelShader = compile ps_2_0 Broken(); } }
)");
    EXPECT_EQ(runner.Load(hlslError, &messages), E_FAIL);
    EXPECT_NE(messages.find("hlsl_error.fx(17,"), std::string::npos) << messages;
    EXPECT_NE(messages.find("undeclared"), std::string::npos) << messages;
    EXPECT_EQ(runner.effect(), nullptr);

    std::string syntaxError = WriteEffectFile("syntax_error.fx", R"(float4 k;
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 ; }
}
)");
    messages.clear();
    EXPECT_EQ(runner.Load(syntaxError, &messages), E_FAIL);
    EXPECT_NE(messages.find("syntax_error.fx(3,41): error"), std::string::npos) << messages;

    std::string missingEntry = WriteEffectFile("missing_entry.fx", kSamplers + R"(
technique ColorCorrection { pass { PixelShader = compile ps_2_0 Nowhere(); } }
)");
    messages.clear();
    EXPECT_EQ(runner.Load(missingEntry, &messages), E_FAIL);
    EXPECT_NE(messages.find("Nowhere"), std::string::npos) << messages;
}

TEST_F(EffectTest, AMissingFileIsReportedByName) {
    EffectRunner runner(device_, 4, 4, D3DFMT_A32B32G32R32F);
    std::string messages;
    std::string path = WriteEffectFile("present.fx", "") + ".absent";
    EXPECT_EQ(runner.Load(path, &messages), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(messages.find(path), std::string::npos) << messages;
}

TEST_F(EffectTest, TheFirstTechniqueRunsWhenTheNamedOneIsMissing) {
    std::string path = WriteEffectFile("techniques.fx", kSamplers + R"(
float4 Half(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(smpTgt, uv) * 0.5; }
technique None { }
technique One { pass { PixelShader = compile ps_2_0 Half(); } }
technique Two { pass { PixelShader = compile ps_2_0 Half(); } pass { PixelShader = compile ps_2_0 FromTmp(); } }
technique Three { pass { PixelShader = compile ps_2_0 Half(); } pass { PixelShader = compile ps_2_0 FromTmp(); }
                  pass { PixelShader = compile ps_2_0 Half(); } }
)");
    EffectRunner runner(device_, 2, 2, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(runner.Load(path), D3D_OK);
    ID3DXEffect* effect = runner.effect();
    EXPECT_EQ(effect->SetTechnique("ColorCorrection"), D3DERR_INVALIDCALL);
    UINT passes = 99;
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(passes, 0u) << "the first technique is current";
    EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL);
    ASSERT_EQ(effect->End(), D3D_OK);

    Image image = MakeImage(2, 2, false);
    image.SetBits(0, 0, 1, FloatBits(1.0f));
    const char* names[] = {"None", "One", "Two", "Three"};
    for (UINT count = 0; count < 4; ++count) {
        PassResults results = runner.Run(image, names[count]);
        ASSERT_EQ(results.result, D3D_OK) << names[count];
        EXPECT_EQ(results.passes, count) << names[count];
        // Only "Two" writes into txTgt last; "Three" ends on txTmp.
        float expected = count == 2 || count == 3 ? 0.5f : 1.0f;
        EXPECT_EQ(FloatOf(results.target.Bits(0, 0, 1)), expected) << names[count];
    }
    EXPECT_EQ(effect->SetTechnique("Missing"), D3DERR_INVALIDCALL);
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(passes, 3u) << "a failed SetTechnique leaves the current one";
    effect->End();
}

TEST_F(EffectTest, RefusesMisuseAsD3DXDoes) {
    EffectRunner runner(device_, 2, 2, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(runner.Load(WriteEffectFile("misuse.fx", kIdentityTwoPass + "float4 vec;\n")),
              D3D_OK);
    ID3DXEffect* effect = runner.effect();
    const D3DXVECTOR4 vector{1, 2, 3, 4};
    EXPECT_EQ(effect->SetVector(nullptr, &vector), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetVector("txTgt", &vector), D3DERR_INVALIDCALL) << "a texture";
    EXPECT_EQ(effect->SetVector("vec", nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetTexture("vec", nullptr), D3DERR_INVALIDCALL) << "a vector";
    EXPECT_EQ(effect->SetTexture("txTmp", nullptr), D3D_OK) << "unbinding";
    EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL) << "before Begin";
    EXPECT_EQ(effect->EndPass(), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL);
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(effect->Begin(&passes, 0), D3DERR_INVALIDCALL) << "nested";
    EXPECT_EQ(effect->BeginPass(2), D3DERR_INVALIDCALL) << "beyond the last pass";
    EXPECT_EQ(effect->BeginPass(0), D3D_OK);
    EXPECT_EQ(effect->BeginPass(1), D3DERR_INVALIDCALL) << "a pass is open";
    EXPECT_EQ(effect->EndPass(), D3D_OK);
    EXPECT_EQ(effect->End(), D3D_OK);

    std::u16string name = u"x.fx";
    ID3DXEffect* none = nullptr;
    EXPECT_EQ(D3DXCreateEffectFromFileW(nullptr, name.c_str(), nullptr, nullptr, 0, nullptr,
                                        &none, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, TheEffectHoldsTheDeviceAndItsTextures) {
    IDirect3DTexture9* texture =
        MakeTexture(2, 2, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    ID3DXEffect* effect = nullptr;
    std::string path = WriteEffectFile("holder.fx", kIdentityOnePass);
    std::u16string wide(path.begin(), path.end());
    ASSERT_EQ(D3DXCreateEffectFromFileW(device_, wide.c_str(), nullptr, nullptr, 0, nullptr,
                                        &effect, nullptr),
              D3D_OK);
    ASSERT_EQ(effect->SetTexture("txTgt", texture), D3D_OK);
    EXPECT_EQ(texture->Release(), 1u) << "the effect holds the texture";
    EXPECT_EQ(device_->AddRef(), 4u) << "the application, the texture and the effect";
    device_->Release();
    EXPECT_EQ(effect->Release(), 0u);
    EXPECT_EQ(device_->AddRef(), 2u) << "the texture went with the effect";
    device_->Release();
}

TEST_F(EffectTest, CompileArgumentsSetTheFunctionsUniformParameters) {
    std::string path = WriteEffectFile("arguments.fx", kSamplers + R"(
float4 Scale(float2 uv : TEXCOORD0, uniform float k) : COLOR0 { return tex2D(smpTgt, uv) * k; }
float4 ScaleTmp(float2 uv : TEXCOORD1, uniform float k, uniform float2 add) : COLOR0 {
    return tex2D(smpTmp, uv) * k + add.x;
}
technique Six { pass { PixelShader = compile ps_2_0 Scale(2); }
                pass { PixelShader = compile ps_2_0 ScaleTmp(3, float2(0, 9)); } }
technique FivePlusOne { pass { PixelShader = compile ps_2_0 Scale(5); }
                        pass { PixelShader = compile ps_2_0 ScaleTmp(1, {1, 9}); } }
)");
    EffectRunner runner(device_, 2, 1, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(runner.Load(path), D3D_OK);
    Image image = MakeImage(2, 1, false);
    image.SetBits(1, 0, 2, FloatBits(0.25f));
    PassResults six = runner.Run(image, "Six");
    ASSERT_EQ(six.result, D3D_OK);
    EXPECT_EQ(FloatOf(six.target.Bits(1, 0, 2)), 1.5f) << "0.25 * 2 * 3";
    PassResults fivePlusOne = runner.Run(image, "FivePlusOne");
    ASSERT_EQ(fivePlusOne.result, D3D_OK);
    EXPECT_EQ(FloatOf(fivePlusOne.target.Bits(1, 0, 2)), 2.25f) << "0.25 * 5 * 1 + 1";
}

TEST_F(EffectTest, PassesReadWhatADynamicTextureWasUnlockedWith) {
    IDirect3DTexture9* dynamic =
        MakeTexture(3, 2, D3DUSAGE_DYNAMIC, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    ASSERT_NE(dynamic, nullptr);
    Image image = MakeImage(3, 2, false);
    for (UINT i = 0; i < 24; ++i) image.SetBits(i / 4 % 3, i / 12, i % 4, FloatBits(i + 0.5f));
    WriteTexture(dynamic, image);

    EffectRunner runner(device_, 3, 2, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(runner.Load(WriteEffectFile("dynamic.fx", kIdentityOnePass)), D3D_OK);
    ASSERT_EQ(runner.effect()->SetTexture("txTgt", dynamic), D3D_OK);
    PassResults results = runner.Run(MakeImage(3, 2, false));
    ASSERT_EQ(results.result, D3D_OK);
    EXPECT_TRUE(SameBits(image, results.temporary));
    dynamic->Release();

    IDirect3DTexture9* refused = nullptr;
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC | D3DUSAGE_RENDERTARGET,
                                     D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT, &refused, nullptr),
              D3DERR_INVALIDCALL);
}
