// One 1920 x 1080 frame through the Vulkan stand-in, stage by stage, as the
// plug-in drives it: upload (UpdateTexture), two passes, read-back
// (GetRenderTargetData); against memcpy of the frame's texels. The same
// stages on a 1 x 1 frame measure the stand-in's fixed cost per frame
// (submission, synchronisation, state), independent of the frame size.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3dx9_api.h"
#include "tests/effects/identity_effect.h"

namespace {

// Arithmetic of the kind a colour correction does: YCbCr to RGB, gain,
// offset and a gamma power, and back, split over two passes.
constexpr char kCorrection[] = R"(
texture txTgt;
texture txTmp;
sampler2D smpTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
sampler2D smpTmp = sampler_state { Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
float4 ycOffs = {0, 0.01, 0, 0};
float4 ycAmp = {0, 1.1, 1, 1};
float4 bgrOffs = {0, 0, 0, 0};
float4 bgrAmp = {0, 1, 1, 1};
float4 bgrGamma = {1, 1.2, 0.9, 1.1};
float4 Yc(float2 uv : TEXCOORD0) : COLOR0 {
    return tex2D(smpTgt, uv) * ycAmp + ycOffs;
}
float4 Bgr(float2 uv : TEXCOORD1) : COLOR0 {
    float4 t = tex2D(smpTmp, uv);
    float3 bgr = float3(t.y + 1.772 * t.z, t.y - 0.344136 * t.z - 0.714136 * t.w, t.y + 1.402 * t.w);
    bgr = pow(saturate(bgr * bgrAmp.yzw + bgrOffs.yzw), bgrGamma.yzw);
    float y = dot(bgr, float3(0.114, 0.587, 0.299));
    return float4(0, y, (bgr.x - y) * 0.564334, (bgr.z - y) * 0.713267);
}
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 Yc(); }
    pass { PixelShader = compile ps_2_0 Bgr(); }
}
)";

template <class T>
void Release(T*& object) {
    if (object != nullptr) object->Release();
    object = nullptr;
}

// The plug-in's resources for one frame size, format and effect.
class Frame {
public:
    Frame(UINT width, UINT height, D3DFORMAT format, const char* effectSource)
        : width_(width), height_(height) {
        if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
            setenv("XDG_RUNTIME_DIR", std::filesystem::temp_directory_path().c_str(), 0);
        }
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        if (d3d_ == nullptr) return;
        D3DPRESENT_PARAMETERS parameters{};
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.Windowed = TRUE;
        HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(1));
        if (d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x822, &parameters, &device_) != D3D_OK) {
            return;
        }
        device_->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT,
                               &texTmp_, nullptr);
        device_->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT,
                               &texTgt_, nullptr);
        device_->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM, &texSys_,
                               nullptr);
        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
            {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
            {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
            D3DDECL_END()};
        device_->CreateVertexDeclaration(elements, &declaration_);
        device_->CreateVertexBuffer(128, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                    D3DPOOL_DEFAULT, &quad_, nullptr);
        float w = static_cast<float>(width) - 0.5f;
        float h = static_cast<float>(height) - 0.5f;
        const float vertices[4][8] = {{-0.5f, -0.5f, 1, 1, 0, 0, 0, 0},
                                      {w, -0.5f, 1, 1, 1, 0, 1, 0},
                                      {-0.5f, h, 1, 1, 0, 1, 0, 1},
                                      {w, h, 1, 1, 1, 1, 1, 1}};
        void* data = nullptr;
        if (quad_ != nullptr && quad_->Lock(0, 128, &data, 0) == D3D_OK) {
            std::memcpy(data, vertices, sizeof(vertices));
            quad_->Unlock();
        }
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / "kelo-bench-effect.fx";
        std::ofstream(path) << effectSource;
        std::string narrow = path.string();
        std::u16string wide(narrow.begin(), narrow.end());
        D3DXCreateEffectFromFileW(device_, wide.c_str(), nullptr, nullptr, 0, nullptr, &effect_,
                                  nullptr);
        if (effect_ != nullptr) {
            effect_->SetTexture(effect_->GetParameterByName(nullptr, "txTgt"), texTgt_);
            effect_->SetTexture(effect_->GetParameterByName(nullptr, "txTmp"), texTmp_);
        }
        texTgt_->GetSurfaceLevel(0, &tgtSurface_);
        texSys_->GetSurfaceLevel(0, &sysSurface_);
        texTmp_->GetSurfaceLevel(0, &tmpSurface_);
    }

    ~Frame() {
        Release(tmpSurface_);
        Release(sysSurface_);
        Release(tgtSurface_);
        Release(effect_);
        Release(quad_);
        Release(declaration_);
        Release(texSys_);
        Release(texTgt_);
        Release(texTmp_);
        Release(device_);
        Release(d3d_);
    }

    bool ready() const { return effect_ != nullptr && tgtSurface_ != nullptr; }

    void Upload() { device_->UpdateTexture(texSys_, texTgt_); }

    void Passes() {
        device_->BeginScene();
        effect_->SetTechnique("ColorCorrection");
        device_->SetVertexDeclaration(declaration_);
        UINT passes = 0;
        effect_->Begin(&passes, 0);
        for (UINT i = 0; i < passes; ++i) {
            device_->SetRenderTarget(0, i % 2 == 0 ? tmpSurface_ : tgtSurface_);
            effect_->BeginPass(i);
            device_->SetStreamSource(0, quad_, 0, 32);
            device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
            effect_->EndPass();
        }
        effect_->End();
        device_->EndScene();
    }

    void ReadBack() { device_->GetRenderTargetData(tgtSurface_, sysSurface_); }

private:
    UINT width_;
    UINT height_;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DTexture9* texTmp_ = nullptr;
    IDirect3DTexture9* texTgt_ = nullptr;
    IDirect3DTexture9* texSys_ = nullptr;
    IDirect3DSurface9* tmpSurface_ = nullptr;
    IDirect3DSurface9* tgtSurface_ = nullptr;
    IDirect3DSurface9* sysSurface_ = nullptr;
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
    IDirect3DVertexBuffer9* quad_ = nullptr;
    ID3DXEffect* effect_ = nullptr;
};

enum Stage { kUpload, kPasses, kReadBack, kWholeFrame };

// Arguments: stage, half precision (0/1), identity (1) or correction (0),
// full frame (1) or 1 x 1 (0).
void BM_Frame(benchmark::State& state) {
    auto stage = static_cast<Stage>(state.range(0));
    D3DFORMAT format = state.range(1) ? D3DFMT_A16B16G16R16F : D3DFMT_A32B32G32R32F;
    bool full = state.range(3) != 0;
    Frame frame(full ? 1920 : 1, full ? 1080 : 1, format,
                state.range(2) ? kIdentityTwoPassEffect : kCorrection);
    if (!frame.ready()) {
        state.SkipWithError("no Vulkan device or effect");
        return;
    }
    frame.Upload();
    frame.Passes();  // the first draw of a pipeline compiles it
    frame.ReadBack();
    for (auto _ : state) {
        if (stage == kUpload || stage == kWholeFrame) frame.Upload();
        if (stage == kPasses || stage == kWholeFrame) frame.Passes();
        if (stage == kReadBack || stage == kWholeFrame) frame.ReadBack();
    }
    static const char* const kStages[] = {"upload", "passes", "read-back", "frame"};
    state.SetLabel(std::string(kStages[stage]) + (state.range(1) ? " F16" : " F32") +
                   (state.range(2) ? " identity" : " correction") +
                   (full ? " 1920x1080" : " 1x1"));
}

void BM_MemcpyFrame(benchmark::State& state) {
    size_t bytes = size_t{1920} * 1080 * (state.range(0) ? 8 : 16);
    std::vector<char> source(bytes, 1), target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(state.range(0) ? "F16 frame" : "F32 frame");
}

}  // namespace

BENCHMARK(BM_MemcpyFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame)
    ->ArgsProduct({{kUpload, kPasses, kReadBack, kWholeFrame}, {0, 1}, {1, 0}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Frame)
    ->ArgsProduct({{kUpload, kPasses, kReadBack, kWholeFrame}, {0}, {1}, {0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
