// Runs the test effects written by kelo-fx2gen through a real Direct3D 9 device
// and D3DX (d3dx9_30) the way the plug-in does: floating-point render-target
// textures, a pre-transformed quad from -0.5 to size-0.5, pass i drawing into
// txTmp when i is even and into txTgt when odd, txTgt read back at the end.
// Proves that the generated binaries load and that their passes return every
// texel exactly (identity) or moved by twice ycOffs, in single and half
// precision.
//
// usage: kelo_d3d9_effect_check IDENTITY_EFFECT ADD_YCOFFS_EFFECT
#include <windows.h>
#include <d3d9.h>
#include <d3dx9.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kWidth = 37;  // odd, non-power-of-two sizes catch half-texel errors
constexpr UINT kHeight = 19;

int g_failures = 0;

void Fail(const char* what, HRESULT hr) {
    std::printf("FAIL: %s (hr=0x%08lx)\n", what, static_cast<unsigned long>(hr));
    ++g_failures;
}

template <typename T>
void Release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

struct Vertex {
    float x, y, z, rhw;
    float u0, v0, u1, v1;
};

// Texel (0, Y, Cb, Cr) on the host's scale / 4096. Values include negative
// chroma and super-whites, which must pass unclipped. With half precision
// they are multiples of 1/64 below 2, exact in half before and after +0.25.
float TestValue(UINT x, UINT y, int component, bool half) {
    if (component == 0) return 0.0f;
    const int n = static_cast<int>((x * 7 + y * 13 + component * 29) % 192) - 64;
    return half ? n / 64.0f : (n * 37 + component) / 4096.0f;
}

struct Frame {
    std::vector<float> texels;  // kWidth * kHeight * 4
    float& At(UINT x, UINT y, int c) { return texels[(y * kWidth + x) * 4 + c]; }
};

class Renderer {
public:
    explicit Renderer(IDirect3DDevice9* device) : device_(device) {}
    ~Renderer() {
        Release(effect_);
        Release(quad_);
        Release(decl_);
        Release(sys_);
        Release(tmp_);
        Release(tgt_);
    }

    bool Load(const wchar_t* path) {
        ID3DXBuffer* errors = nullptr;
        HRESULT hr = D3DXCreateEffectFromFileW(device_, path, nullptr, nullptr, 0, nullptr,
                                               &effect_, &errors);
        if (errors != nullptr) {
            std::printf("effect compiler says: %s\n",
                        static_cast<const char*>(errors->GetBufferPointer()));
            errors->Release();
        }
        if (FAILED(hr)) {
            Fail("D3DXCreateEffectFromFileW", hr);
            return false;
        }
        return true;
    }

    bool Build(D3DFORMAT format) {
        format_ = format;
        HRESULT hr;
        if (FAILED(hr = device_->CreateTexture(kWidth, kHeight, 1, D3DUSAGE_RENDERTARGET, format,
                                               D3DPOOL_DEFAULT, &tgt_, nullptr)) ||
            FAILED(hr = device_->CreateTexture(kWidth, kHeight, 1, D3DUSAGE_RENDERTARGET, format,
                                               D3DPOOL_DEFAULT, &tmp_, nullptr)) ||
            FAILED(hr = device_->CreateTexture(kWidth, kHeight, 1, 0, format,
                                               D3DPOOL_SYSTEMMEM, &sys_, nullptr))) {
            Fail("CreateTexture", hr);
            return false;
        }
        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
            {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
            {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
            D3DDECL_END(),
        };
        if (FAILED(hr = device_->CreateVertexDeclaration(elements, &decl_))) {
            Fail("CreateVertexDeclaration", hr);
            return false;
        }
        const float r = kWidth - 0.5f, b = kHeight - 0.5f;
        const Vertex quad[4] = {
            {-0.5f, -0.5f, 0, 1, 0, 0, 0, 0},
            {r, -0.5f, 0, 1, 1, 0, 1, 0},
            {-0.5f, b, 0, 1, 0, 1, 0, 1},
            {r, b, 0, 1, 1, 1, 1, 1},
        };
        void* data = nullptr;
        if (FAILED(hr = device_->CreateVertexBuffer(sizeof quad, D3DUSAGE_WRITEONLY, 0,
                                                    D3DPOOL_MANAGED, &quad_, nullptr)) ||
            FAILED(hr = quad_->Lock(0, 0, &data, 0))) {
            Fail("vertex buffer", hr);
            return false;
        }
        std::memcpy(data, quad, sizeof quad);
        quad_->Unlock();
        if (FAILED(hr = effect_->SetTexture("txTgt", tgt_)) ||
            FAILED(hr = effect_->SetTexture("txTmp", tmp_))) {
            Fail("ID3DXEffect::SetTexture", hr);
            return false;
        }
        return true;
    }

    bool SetOffset(float y) {
        const D3DXVECTOR4 offset(0.0f, y, 0.0f, 0.0f);
        HRESULT hr = effect_->SetVector("ycOffs", &offset);
        if (FAILED(hr)) Fail("ID3DXEffect::SetVector(ycOffs)", hr);
        return SUCCEEDED(hr);
    }

    // Upload, both passes, read back: the plug-in's frame path.
    bool Run(Frame& frame) {
        const bool half = format_ == D3DFMT_A16B16G16R16F;
        D3DLOCKED_RECT locked;
        HRESULT hr = sys_->LockRect(0, &locked, nullptr, 0);
        if (FAILED(hr)) {
            Fail("LockRect for upload", hr);
            return false;
        }
        for (UINT y = 0; y < kHeight; ++y) {
            BYTE* row = static_cast<BYTE*>(locked.pBits) + y * locked.Pitch;
            const float* source = &frame.At(0, y, 0);
            if (half) {
                D3DXFloat32To16Array(reinterpret_cast<D3DXFLOAT16*>(row), source, kWidth * 4);
            } else {
                std::memcpy(row, source, kWidth * 16);
            }
        }
        sys_->UnlockRect(0);
        if (FAILED(hr = device_->UpdateTexture(sys_, tgt_))) {
            Fail("UpdateTexture", hr);
            return false;
        }
        if (!RenderPasses()) return false;

        IDirect3DSurface9* from = nullptr;
        IDirect3DSurface9* to = nullptr;
        tgt_->GetSurfaceLevel(0, &from);
        sys_->GetSurfaceLevel(0, &to);
        hr = device_->GetRenderTargetData(from, to);
        Release(from);
        Release(to);
        if (FAILED(hr)) {
            Fail("GetRenderTargetData", hr);
            return false;
        }
        if (FAILED(hr = sys_->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) {
            Fail("LockRect for read-back", hr);
            return false;
        }
        for (UINT y = 0; y < kHeight; ++y) {
            const BYTE* row = static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch;
            float* target = &frame.At(0, y, 0);
            if (half) {
                D3DXFloat16To32Array(target, reinterpret_cast<const D3DXFLOAT16*>(row),
                                     kWidth * 4);
            } else {
                std::memcpy(target, row, kWidth * 16);
            }
        }
        sys_->UnlockRect(0);
        return true;
    }

private:
    bool RenderPasses() {
        HRESULT hr;
        UINT passes = 0;
        if (FAILED(hr = device_->BeginScene())) {
            Fail("BeginScene", hr);
            return false;
        }
        bool ok = SUCCEEDED(hr = effect_->SetTechnique("ColorCorrection")) &&
                  SUCCEEDED(hr = effect_->Begin(&passes, 0));
        if (!ok) Fail("SetTechnique/Begin", hr);
        if (ok && passes != 2) {
            std::printf("FAIL: the technique has %u passes, expected 2\n", passes);
            ++g_failures;
            ok = false;
        }
        for (UINT i = 0; ok && i < passes; ++i) {
            IDirect3DSurface9* surface = nullptr;
            ok = SUCCEEDED(hr = (i % 2 == 0 ? tmp_ : tgt_)->GetSurfaceLevel(0, &surface)) &&
                 SUCCEEDED(hr = device_->SetRenderTarget(0, surface)) &&
                 SUCCEEDED(hr = device_->SetVertexDeclaration(decl_)) &&
                 SUCCEEDED(hr = device_->SetStreamSource(0, quad_, 0, sizeof(Vertex))) &&
                 SUCCEEDED(hr = effect_->BeginPass(i)) &&
                 SUCCEEDED(hr = device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2)) &&
                 SUCCEEDED(hr = effect_->EndPass());
            Release(surface);
            if (!ok) Fail("pass", hr);
        }
        if (passes != 0) effect_->End();
        device_->EndScene();
        return ok;
    }

    IDirect3DDevice9* device_;
    D3DFORMAT format_ = D3DFMT_UNKNOWN;
    ID3DXEffect* effect_ = nullptr;
    IDirect3DTexture9* tgt_ = nullptr;
    IDirect3DTexture9* tmp_ = nullptr;
    IDirect3DTexture9* sys_ = nullptr;
    IDirect3DVertexBuffer9* quad_ = nullptr;
    IDirect3DVertexDeclaration9* decl_ = nullptr;
};

Frame TestFrame(bool half) {
    Frame frame{std::vector<float>(kWidth * kHeight * 4)};
    for (UINT y = 0; y < kHeight; ++y)
        for (UINT x = 0; x < kWidth; ++x)
            for (int c = 0; c < 4; ++c) frame.At(x, y, c) = TestValue(x, y, c, half);
    return frame;
}

// Every texel must equal the input plus yOffset in green, bit for bit.
void Compare(const char* label, Frame& actual, bool half, float yOffset) {
    int mismatches = 0;
    for (UINT y = 0; y < kHeight; ++y) {
        for (UINT x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 4; ++c) {
                const float expected = TestValue(x, y, c, half) + (c == 1 ? yOffset : 0.0f);
                const float got = actual.At(x, y, c);
                if (std::memcmp(&expected, &got, 4) != 0 && ++mismatches <= 5) {
                    std::printf("FAIL: %s: texel (%u,%u) component %d expected %.9g got %.9g\n",
                                label, x, y, c, expected, got);
                }
            }
        }
    }
    if (mismatches > 0) {
        std::printf("FAIL: %s: %d mismatching components\n", label, mismatches);
        ++g_failures;
    } else {
        std::printf("ok: %s\n", label);
    }
}

void CheckEffect(IDirect3DDevice9* device, const wchar_t* path, bool addsOffset,
                 D3DFORMAT format) {
    const bool half = format == D3DFMT_A16B16G16R16F;
    const std::string label = std::string(addsOffset ? "add-ycoffs" : "identity") +
                              (half ? " A16B16G16R16F" : " A32B32G32R32F");
    Renderer renderer(device);
    if (!renderer.Load(path) || !renderer.Build(format)) return;
    // Two offsets: the change must follow the parameter, not a constant.
    for (float offset : {0.25f, -0.5f}) {
        Frame frame = TestFrame(half);
        if (!renderer.SetOffset(offset) || !renderer.Run(frame)) return;
        char text[96];
        std::snprintf(text, sizeof text, "%s, ycOffs.y %+.2f", label.c_str(), offset);
        Compare(text, frame, half, addsOffset ? 2 * offset : 0.0f);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IDENTITY_EFFECT ADD_YCOFFS_EFFECT\n", argv[0]);
        return 2;
    }
    // The device's focus window: a real, never shown window, as the host's.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"kelo_d3d9_effect_check";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(wc.lpszClassName, L"kelo", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64,
                                nullptr, nullptr, wc.hInstance, nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (window == nullptr || d3d == nullptr) {
        std::printf("FAIL: no window or no Direct3D 9\n");
        return 1;
    }
    D3DPRESENT_PARAMETERS pp = {};
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.BackBufferFormat = D3DFMT_UNKNOWN;
    IDirect3DDevice9* device = nullptr;
    HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                   D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_NOWINDOWCHANGES |
                                       D3DCREATE_FPU_PRESERVE,
                                   &pp, &device);
    if (FAILED(hr)) {
        Fail("CreateDevice (HAL)", hr);
        d3d->Release();
        return 1;
    }

    std::vector<std::wstring> paths;
    for (int i = 1; i < 3; ++i) {
        const int n = MultiByteToWideChar(CP_ACP, 0, argv[i], -1, nullptr, 0);
        std::wstring path(n, L'\0');
        MultiByteToWideChar(CP_ACP, 0, argv[i], -1, path.data(), n);
        paths.push_back(path);
    }
    for (D3DFORMAT format : {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F}) {
        CheckEffect(device, paths[0].c_str(), false, format);
        CheckEffect(device, paths[1].c_str(), true, format);
    }

    device->Release();
    d3d->Release();
    DestroyWindow(window);
    std::printf("%s\n", g_failures == 0 ? "all checks passed" : "checks failed");
    return g_failures == 0 ? 0 : 1;
}
