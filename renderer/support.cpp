// The renderer: device start-up, the frame-size resources, the effect
// parameters, the pass loop and the pixel transfers, all over g_renderer.
#include "renderer/renderer.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

#include "diag/report.h"
#include "plugin/plugin.h"
#include "renderer/convert.h"

#ifndef _WIN32
#include <csetjmp>
#include <csignal>
#endif

#if defined(__i386__) || defined(__x86_64__)
#define KELO_X86 1
#include <cpuid.h>
#endif

// Reports name this file as the build records it, the same text on every
// build machine, and the line of the reporting call.
#define REPORT_FAILURE(hr, message) \
    ReportError("./renderer/support.cpp", __LINE__, (hr), (message), TRUE)

namespace {

const char kTechnique[] = "ColorCorrection";
constexpr int32_t kMaxTextureSize = 4096;
constexpr DWORD kStatusIllegalInstruction = 0xC000001D;
constexpr DWORD kStatusAccessViolation = 0xC0000005;
constexpr DWORD kStatusIntegerDivideByZero = 0xC0000094;
constexpr DWORD kFeatureSse = 1u << 25;
constexpr DWORD kFeatureSse2 = 1u << 26;

struct QuadVertex {
    float x, y, z, rhw;
    float u0, v0;
    float u1, v1;
};
static_assert(sizeof(QuadVertex) == 32);

template <class Interface>
void ReleaseAndClear(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// Aligned for the vector conversions, which load and store whole texels.
constexpr std::align_val_t kRowAlignment{16};

float* AllocateRowBuffer(size_t texels) {
    return static_cast<float*>(
        ::operator new[](texels * 4 * sizeof(float), kRowAlignment, std::nothrow));
}

void FreeRowBuffer(float*& rowBuf) {
    ::operator delete[](rowBuf, kRowAlignment);
    rowBuf = nullptr;
}

void FreePassRing(PassNode*& ring) {
    delete[] ring;
    ring = nullptr;
}

D3DFORMAT TextureFormat(const Renderer* renderer) {
    return renderer->useF16 == 1 ? D3DFMT_A16B16G16R16F : D3DFMT_A32B32G32R32F;
}

// The compiler's error text is narrow; the report takes wide text and drops a
// message of 1024 characters or more, so the text is cut to 1023.
void ReportCompilerText(HRESULT hr, ID3DXBuffer* errors) {
    const char* text = static_cast<const char*>(errors->GetBufferPointer());
    const size_t size = errors->GetBufferSize();
    if (text == nullptr || size == 0) return;
    WCHAR wide[1024];
    const size_t capacity = size < 1024 ? size : 1024;
    size_t i = 0;
    for (; i < capacity && text[i] != '\0'; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    wide[i < capacity ? i : capacity - 1] = 0;
    REPORT_FAILURE(hr, wide);
}

#ifdef KELO_X86
DWORD ReadFeatureFlags() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
    return edx;
}

__attribute__((target("sse"))) void ClearXmmRegister() {
    __asm__ volatile("xorps %%xmm0, %%xmm0" ::: "xmm0");
}
#endif

#ifdef _WIN32

// Without __try, a vectored handler catches the probe's fault. It cannot
// unwind by itself, so it resumes the probing thread in a function that jumps
// back to where the probe started. The jump is the compiler's own, which only
// restores the stack and frame: the 64-bit runtime's longjmp would unwind the
// stack, and the resumed function has no caller an unwinder could find.
void* g_probeStart[5];
DWORD g_probeThread;
volatile DWORD g_probeException;

void ResumeAfterProbeFault() { __builtin_longjmp(g_probeStart, 1); }

LONG CALLBACK CatchProbeFault(EXCEPTION_POINTERS* info) {
    if (GetCurrentThreadId() != g_probeThread) return EXCEPTION_CONTINUE_SEARCH;
    g_probeException = info->ExceptionRecord->ExceptionCode;
#ifdef _WIN64
    info->ContextRecord->Rip = reinterpret_cast<DWORD64>(&ResumeAfterProbeFault);
#else
    info->ContextRecord->Eip = reinterpret_cast<DWORD>(&ResumeAfterProbeFault);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

#else  // !_WIN32

// Signals stand in for structured exceptions; each is translated to the
// exception code Windows raises for the same fault.
const int kProbeSignals[] = {SIGILL, SIGFPE, SIGSEGV, SIGBUS};
sigjmp_buf g_probeStart;
volatile sig_atomic_t g_probeSignal;

void CatchProbeSignal(int signal) {
    g_probeSignal = signal;
    siglongjmp(g_probeStart, 1);
}

DWORD ExceptionCodeOfSignal(int signal) {
    switch (signal) {
        case 0:
            return 0;
        case SIGILL:
            return kStatusIllegalInstruction;
        case SIGFPE:
            return kStatusIntegerDivideByZero;
        default:
            return kStatusAccessViolation;
    }
}

#endif  // _WIN32

// Runs instruction and returns the code of the exception it raised, 0 when it
// completed.
DWORD RunGuarded(void (*instruction)()) {
#ifdef _WIN32
    g_probeThread = GetCurrentThreadId();
    g_probeException = 0;
    PVOID handler = AddVectoredExceptionHandler(1, CatchProbeFault);
    // Unguarded, the probe could take the host down; the scalar routines
    // always work.
    if (handler == nullptr) return kStatusIllegalInstruction;
    if (__builtin_setjmp(g_probeStart) == 0) instruction();
    RemoveVectoredExceptionHandler(handler);
    return g_probeException;
#else
    struct sigaction catcher;
    std::memset(&catcher, 0, sizeof catcher);
    catcher.sa_handler = CatchProbeSignal;
    sigemptyset(&catcher.sa_mask);
    struct sigaction previous[std::size(kProbeSignals)];
    for (size_t i = 0; i < std::size(kProbeSignals); ++i)
        sigaction(kProbeSignals[i], &catcher, &previous[i]);
    g_probeSignal = 0;
    if (sigsetjmp(g_probeStart, 1) == 0) instruction();
    for (size_t i = 0; i < std::size(kProbeSignals); ++i)
        sigaction(kProbeSignals[i], &previous[i], nullptr);
    return ExceptionCodeOfSignal(g_probeSignal);
#endif
}

}  // namespace

// Start-up and shut-down.

void RendererInit(Renderer* renderer) {
    renderer->d3d = nullptr;
    renderer->device = nullptr;
    renderer->texTgt = nullptr;
    renderer->texSys = nullptr;
    renderer->texTmp = nullptr;
    renderer->vbQuad = nullptr;
    renderer->declQuad = nullptr;
    renderer->effect = nullptr;
    renderer->effectPool = nullptr;
    renderer->passRing = nullptr;
    renderer->rowBuf = nullptr;
    renderer->width = -1;
    renderer->height = -1;
    renderer->pitch = -1;
    renderer->texWidth = -1;
    renderer->texHeight = -1;
    renderer->useSimd = DetectSimd() ? 1 : 0;
    renderer->useF16 = 3;  // no format chosen until the first build
    renderer->usePow2 = 0;
}

bool AttachDevice() {
    Renderer* renderer = g_renderer;
    if (renderer == nullptr || g_device == nullptr || g_d3d == nullptr) return false;
    ReleaseAndClear(renderer->device);
    ReleaseAndClear(renderer->d3d);
    renderer->d3d = g_d3d;
    renderer->d3d->AddRef();
    renderer->device = g_device;
    renderer->device->AddRef();

    if (FAILED(CheckDeviceCaps(renderer))) return false;
    HRESULT hr = LoadEffect(renderer);
    if (FAILED(hr)) {
        REPORT_FAILURE(hr, WIDE("エフェクトのロードに失敗しました"));
        return false;
    }
    return true;
}

HRESULT CheckDeviceCaps(Renderer* renderer) {
    if (renderer->device == nullptr || renderer->d3d == nullptr) return D3DERR_INVALIDCALL;

    D3DCAPS9 caps = {};
    HRESULT hr = renderer->d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    if (hr != S_OK) return hr;
    // The transfers never use dynamic textures, but a device without them is
    // taken to be too old for the rest.
    if ((caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) == 0) {
        REPORT_FAILURE(S_OK, WIDE("ダイナミックテクスチャが利用できません"));
        return D3DERR_NOTAVAILABLE;
    }
    if ((caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) != 0) {
        REPORT_FAILURE(S_OK, WIDE("非正方テクスチャを利用できません"));
        return D3DERR_NOTAVAILABLE;
    }
    if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) != 0 &&
        (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) == 0) {
        REPORT_FAILURE(S_OK, WIDE("2の累乗サイズ以外のテクスチャは利用できません"));
        return D3DERR_NOTAVAILABLE;
    }

    D3DDISPLAYMODE mode = {};
    hr = renderer->device->GetDisplayMode(0, &mode);
    if (hr != S_OK) return hr;
    // A missing float format is only reported: the build that needs it fails later.
    if (FAILED(renderer->d3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format,
                                                D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                                D3DFMT_A16B16G16R16F))) {
        REPORT_FAILURE(S_OK, WIDE("D3DFMT_A16B16G16R16F が利用できません"));
        return S_OK;
    }
    if (FAILED(renderer->d3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format,
                                                D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                                D3DFMT_A32B32G32R32F))) {
        REPORT_FAILURE(S_OK, WIDE("D3DFMT_A32B32G32R32F が利用できません"));
    }
    return S_OK;
}

HRESULT LoadEffect(Renderer* renderer) {
    if (renderer->device == nullptr) return D3DERR_INVALIDCALL;
    ReleaseAndClear(renderer->effect);

    ID3DXBuffer* errors = nullptr;
    HRESULT hr = D3DXCreateEffectFromFileW(renderer->device, WIDE("kelo.fx"), nullptr, nullptr, 0,
                                           renderer->effectPool, &renderer->effect, &errors);
    if (hr != S_OK && errors != nullptr) ReportCompilerText(hr, errors);
    // Warnings come back in the same buffer when the compile succeeds.
    ReleaseAndClear(errors);
    return hr;
}

void RendererRelease(Renderer* renderer) {
    FreeRowBuffer(renderer->rowBuf);
    FreePassRing(renderer->passRing);
    ReleaseAndClear(renderer->effectPool);
    ReleaseAndClear(renderer->effect);
    ReleaseAndClear(renderer->vbQuad);
    ReleaseAndClear(renderer->declQuad);
    ReleaseAndClear(renderer->texSys);
    ReleaseAndClear(renderer->texTmp);
    ReleaseAndClear(renderer->texTgt);
    ReleaseAndClear(renderer->device);
    ReleaseAndClear(renderer->d3d);
}

bool DetectSimdUsing(DWORD (*featureFlags)(), void (*probe)()) {
    // MMX alone is not enough; SSE or SSE2 lets the probe decide.
    if ((featureFlags() & (kFeatureSse | kFeatureSse2)) == 0) return false;
    // The processor may report SSE while the operating system does not save
    // its registers; then the instruction faults.
    return RunGuarded(probe) != kStatusIllegalInstruction;
}

// Other processors have no MMX or SSE; their vector routines are the scalar
// ones, so either answer gives the same pixels.
bool DetectSimd() {
#ifdef KELO_X86
    return DetectSimdUsing(ReadFeatureFlags, ClearXmmRegister);
#else
    return false;
#endif
}

// Frame-size resources.

bool BuildFrameResources(bool usePow2, int32_t pitch, bool useF16) {
    Renderer* renderer = g_renderer;
    if (renderer == nullptr || renderer->effect == nullptr) return false;
    const int32_t width = g_lastWidth;
    const int32_t height = g_lastHeight;
    if (width < 0 || width > kMaxTextureSize || height < 0 || height > kMaxTextureSize ||
        pitch < 0 || pitch < width) {
        return false;
    }

    renderer->pitch = pitch;
    renderer->width = width;
    renderer->height = height;
    renderer->useF16 = useF16 ? 1 : 0;
    renderer->usePow2 = usePow2 ? 1 : 0;
    renderer->texWidth = usePow2 ? NextPow2(width) : width;
    renderer->texHeight = usePow2 ? NextPow2(height) : height;
    ReleaseFrameResources();

    HRESULT hr = CreateQuad(renderer);
    if (FAILED(hr)) {
        REPORT_FAILURE(hr, WIDE("頂点のセットに失敗しました"));
        return false;
    }
    hr = CreateTempTexture(renderer, &renderer->texTmp);
    if (FAILED(hr)) {
        REPORT_FAILURE(hr, WIDE("テクスチャの作成に失敗しました"));
        return false;
    }
    hr = CreateTargetTextures(renderer, &renderer->texTgt, &renderer->texSys);
    if (FAILED(hr)) {
        REPORT_FAILURE(hr, WIDE("テクスチャの作成に失敗しました"));
        return false;
    }

    ID3DXEffect* effect = renderer->effect;
    D3DXHANDLE target = effect->GetParameterByName(nullptr, "txTgt");
    if (target != nullptr) {
        hr = effect->SetTexture(target, renderer->texTgt);
        if (FAILED(hr)) {
            REPORT_FAILURE(hr, WIDE("テクスチャのセットに失敗しました"));
            return false;
        }
    }
    D3DXHANDLE temporary = effect->GetParameterByName(nullptr, "txTmp");
    if (temporary != nullptr) {
        hr = effect->SetTexture(temporary, renderer->texTmp);
        if (FAILED(hr)) {
            REPORT_FAILURE(hr, WIDE("テクスチャのセットに失敗しました"));
            return false;
        }
    }

    if (renderer->useF16 == 1) {
        renderer->rowBuf = AllocateRowBuffer(static_cast<size_t>(width));
        if (renderer->rowBuf == nullptr) {
            REPORT_FAILURE(E_OUTOFMEMORY, WIDE("変換用メモリの確保に失敗しました"));
            return false;
        }
    }

    // Created last: a ring marks a complete build.
    PassNode* ring = new (std::nothrow) PassNode[2];
    if (ring == nullptr) {
        REPORT_FAILURE(E_OUTOFMEMORY, WIDE("メモリの確保に失敗しました"));
        return false;
    }
    ring[0] = {&ring[1], renderer->texTmp};
    ring[1] = {&ring[0], renderer->texTgt};
    renderer->passRing = ring;
    return true;
}

bool ReleaseFrameResources() {
    Renderer* renderer = g_renderer;
    if (renderer == nullptr) return true;
    FreeRowBuffer(renderer->rowBuf);
    FreePassRing(renderer->passRing);
    // The quad's vertex buffer stays: the next CreateQuad replaces it.
    ReleaseAndClear(renderer->declQuad);
    ReleaseAndClear(renderer->texSys);
    ReleaseAndClear(renderer->texTmp);
    ReleaseAndClear(renderer->texTgt);
    return true;
}

HRESULT CreateQuad(Renderer* renderer) {
    if (renderer->device == nullptr) return D3DERR_INVALIDCALL;

    static const D3DVERTEXELEMENT9 kElements[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
        D3DDECL_END(),
    };
    ReleaseAndClear(renderer->declQuad);
    HRESULT hr = renderer->device->CreateVertexDeclaration(kElements, &renderer->declQuad);
    if (hr != S_OK) return hr;

    // Positions sit half a pixel up and left, so that texel centres fall on
    // pixel centres.
    const float right = static_cast<float>(renderer->texWidth - 0.5);
    const float bottom = static_cast<float>(renderer->texHeight - 0.5);
    const QuadVertex vertices[4] = {
        {-0.5f, -0.5f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {right, -0.5f, 1.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f},
        {-0.5f, bottom, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f},
        {right, bottom, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
    };
    ReleaseAndClear(renderer->vbQuad);
    hr = renderer->device->CreateVertexBuffer(sizeof vertices, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                              0, D3DPOOL_DEFAULT, &renderer->vbQuad, nullptr);
    if (FAILED(hr)) return hr;

    // A buffer that cannot be filled would draw an undefined quad every frame.
    void* data = nullptr;
    HRESULT locked = renderer->vbQuad->Lock(0, 0, &data, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK);
    if (FAILED(locked)) return locked;
    std::memcpy(data, vertices, sizeof vertices);
    renderer->vbQuad->Unlock();
    return hr;
}

HRESULT CreateTempTexture(Renderer* renderer, IDirect3DTexture9** slot) {
    if (renderer->device == nullptr) return D3DERR_INVALIDCALL;
    ReleaseAndClear(*slot);
    return renderer->device->CreateTexture(renderer->texWidth, renderer->texHeight, 1,
                                           D3DUSAGE_RENDERTARGET, TextureFormat(renderer),
                                           D3DPOOL_DEFAULT, slot, nullptr);
}

HRESULT CreateTargetTextures(Renderer* renderer, IDirect3DTexture9** targetSlot,
                             IDirect3DTexture9** systemSlot) {
    if (renderer->device == nullptr) return D3DERR_INVALIDCALL;
    ReleaseAndClear(*targetSlot);
    HRESULT hr = renderer->device->CreateTexture(renderer->texWidth, renderer->texHeight, 1,
                                                 D3DUSAGE_RENDERTARGET, TextureFormat(renderer),
                                                 D3DPOOL_DEFAULT, targetSlot, nullptr);
    if (hr != S_OK) return hr;
    ReleaseAndClear(*systemSlot);
    return renderer->device->CreateTexture(renderer->texWidth, renderer->texHeight, 1, 0,
                                           TextureFormat(renderer), D3DPOOL_SYSTEMMEM, systemSlot,
                                           nullptr);
}

int32_t NextPow2(int32_t n) {
    if (n <= 0) return 0;
    int32_t size = 1;
    while (size < n && size < kMaxTextureSize) size *= 2;
    return size;
}

// Parameters and passes.

namespace {

D3DXVECTOR4 Vector(float x, float y, float z, float w) {
    D3DXVECTOR4 vector;
    vector.x = x;
    vector.y = y;
    vector.z = z;
    vector.w = w;
    return vector;
}

float Offset(int32_t track) { return static_cast<float>(track) * 0.00390625f; }
float Gain(int32_t track) { return static_cast<float>(track + 256) * 0.00390625f; }
float Gamma(int32_t track) { return static_cast<float>(std::pow(10.0, track / 256.0)); }

// An effect that does not declare a parameter simply does not get it.
HRESULT SetVectorIfDeclared(ID3DXEffect* effect, D3DXHANDLE parameter, const D3DXVECTOR4& vector) {
    return parameter != nullptr ? effect->SetVector(parameter, &vector) : S_OK;
}

}  // namespace

bool SetEffectParams(const int32_t* track) {
    Renderer* renderer = g_renderer;
    if (renderer == nullptr || renderer->effect == nullptr || track == nullptr) return false;
    ID3DXEffect* effect = renderer->effect;

    const D3DXHANDLE ycOffs = effect->GetParameterByName(nullptr, "ycOffs");
    const D3DXHANDLE ycAmp = effect->GetParameterByName(nullptr, "ycAmp");
    const D3DXHANDLE bgrOffs = effect->GetParameterByName(nullptr, "bgrOffs");
    const D3DXHANDLE bgrAmp = effect->GetParameterByName(nullptr, "bgrAmp");
    const D3DXHANDLE bgrGamma = effect->GetParameterByName(nullptr, "bgrGamma");

    // Colour vectors carry blue in y and red in w; each failure has its own
    // report line, so the report tells which parameter failed.
    const WCHAR* const failed = WIDE("パラメータのセットに失敗しました");
    HRESULT hr = SetVectorIfDeclared(
        effect, ycOffs, Vector(0.0f, Offset(track[0]), Offset(track[2]), Offset(track[4])));
    if (FAILED(hr)) REPORT_FAILURE(hr, failed);
    hr = SetVectorIfDeclared(effect, ycAmp,
                             Vector(0.0f, Gain(track[1]), Gain(track[3]), Gain(track[5])));
    if (FAILED(hr)) REPORT_FAILURE(hr, failed);
    hr = SetVectorIfDeclared(
        effect, bgrOffs, Vector(0.0f, Offset(track[12]), Offset(track[9]), Offset(track[6])));
    if (FAILED(hr)) REPORT_FAILURE(hr, failed);
    hr = SetVectorIfDeclared(effect, bgrAmp,
                             Vector(0.0f, Gain(track[13]), Gain(track[10]), Gain(track[7])));
    if (FAILED(hr)) REPORT_FAILURE(hr, failed);
    hr = SetVectorIfDeclared(effect, bgrGamma,
                             Vector(1.0f, Gamma(track[14]), Gamma(track[11]), Gamma(track[8])));
    if (FAILED(hr)) REPORT_FAILURE(hr, failed);
    return true;
}

bool RenderPasses() {
    Renderer* renderer = g_renderer;
    if (renderer == nullptr || renderer->passRing == nullptr) return false;
    IDirect3DDevice9* device = renderer->device;
    ID3DXEffect* effect = renderer->effect;

    // A refused scene leaves the uploaded frame to come back uncorrected.
    if (FAILED(device->BeginScene())) return true;
    effect->SetTechnique(kTechnique);
    device->SetVertexDeclaration(renderer->declQuad);
    UINT passes = 0;
    if (FAILED(effect->Begin(&passes, 0))) passes = 0;

    // Even passes draw into texTmp, odd ones into texTgt, which is read back.
    PassNode* node = renderer->passRing;
    for (UINT pass = 0; pass < passes; ++pass, node = node->next) {
        IDirect3DSurface9* surface = nullptr;
        HRESULT hr = node->target->GetSurfaceLevel(0, &surface);
        if (FAILED(hr)) {
            REPORT_FAILURE(hr, WIDE("GetSurfaceLevel"));
            effect->End();
            device->EndScene();
            return false;
        }
        device->SetRenderTarget(0, surface);
        surface->Release();
        effect->BeginPass(pass);
        device->SetStreamSource(0, renderer->vbQuad, 0, sizeof(QuadVertex));
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        effect->EndPass();
    }
    effect->End();
    device->EndScene();
    return true;
}

// Pixel transfer.
// The processor touches only the system-memory twin texSys; the device moves
// the frame into and out of the render target.

bool UploadFrame(const PIXEL_YC* frame) {
    const HRESULT hr = CopyToDevice(g_renderer, frame);
    if (FAILED(hr)) {
        REPORT_FAILURE(hr, WIDE("デバイスへコピーできませんでした"));
        return false;
    }
    return true;
}

bool DownloadFrame(PIXEL_YC* frame) {
    const HRESULT hr = CopyFromDevice(g_renderer, frame);
    if (FAILED(hr)) {
        REPORT_FAILURE(hr, WIDE("デバイスからコピーできませんでした"));
        return false;
    }
    return true;
}

HRESULT CopyToDevice(Renderer* renderer, const PIXEL_YC* frame) {
    D3DLOCKED_RECT locked;
    HRESULT hr =
        renderer->texSys->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK);
    if (hr != D3D_OK) return hr;
    if (renderer->useF16) {
        (renderer->useSimd ? YcToF16Simd : YcToF16)(
            frame, static_cast<D3DXFLOAT16*>(locked.pBits), locked.Pitch / 8, renderer->width,
            renderer->height, renderer->pitch, renderer->rowBuf);
    } else {
        (renderer->useSimd ? YcToF32Simd : YcToF32)(frame, static_cast<float*>(locked.pBits),
                                                    locked.Pitch / 16, renderer->width,
                                                    renderer->height, renderer->pitch);
    }
    renderer->texSys->UnlockRect(0);
    return renderer->device->UpdateTexture(renderer->texSys, renderer->texTgt);
}

HRESULT CopyFromDevice(Renderer* renderer, PIXEL_YC* frame) {
    IDirect3DSurface9* target = nullptr;
    HRESULT hr = renderer->texTgt->GetSurfaceLevel(0, &target);
    if (hr != D3D_OK) return hr;
    IDirect3DSurface9* staging = nullptr;
    hr = renderer->texSys->GetSurfaceLevel(0, &staging);
    if (hr != D3D_OK) {
        target->Release();
        return hr;
    }
    hr = renderer->device->GetRenderTargetData(target, staging);
    staging->Release();
    target->Release();
    if (hr != D3D_OK) return hr;

    D3DLOCKED_RECT locked;
    hr = renderer->texSys->LockRect(0, &locked, nullptr, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    if (hr != D3D_OK) return hr;
    if (renderer->useF16) {
        (renderer->useSimd ? F16ToYcSimd : F16ToYc)(
            frame, static_cast<const D3DXFLOAT16*>(locked.pBits), locked.Pitch / 8, renderer->width,
            renderer->height, renderer->pitch, renderer->rowBuf);
    } else {
        (renderer->useSimd ? F32ToYcSimd : F32ToYc)(frame, static_cast<const float*>(locked.pBits),
                                                    locked.Pitch / 16, renderer->width,
                                                    renderer->height, renderer->pitch);
    }
    return renderer->texSys->UnlockRect(0);
}
