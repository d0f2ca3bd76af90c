// The one renderer record and the operations on it: device start-up, the
// frame-size resources, the effect parameters, the passes and the transfers.
#pragma once

#include <cstdint>

#include "platform/d3d9_api.h"
#include "platform/d3dx9_api.h"
#include "plugin/filter.h"

struct PassNode {
    PassNode* next;
    IDirect3DTexture9* target;  // borrowed from the renderer, not counted
};

struct Renderer {
    IDirect3D9* d3d;
    IDirect3DDevice9* device;
    IDirect3DTexture9* texTgt;
    IDirect3DTexture9* texSys;
    IDirect3DTexture9* texTmp;
    IDirect3DVertexBuffer9* vbQuad;
    IDirect3DVertexDeclaration9* declQuad;
    ID3DXEffect* effect;
    ID3DXEffectPool* effectPool;
    PassNode* passRing;
    float* rowBuf;
    int32_t width;
    int32_t height;
    int32_t pitch;
    int32_t texWidth;
    int32_t texHeight;
    uint8_t useSimd;
    int32_t useF16;
    uint8_t usePow2;
};

// Start-up and shut-down.
void RendererInit(Renderer* renderer);
bool AttachDevice();
HRESULT CheckDeviceCaps(Renderer* renderer);
HRESULT LoadEffect(Renderer* renderer);
void RendererRelease(Renderer* renderer);
bool DetectSimd();
// DetectSimd with its two processor inputs replaceable: the CPUID function 1
// feature flags (EDX) and the one SSE instruction run under the fault guard.
bool DetectSimdUsing(DWORD (*featureFlags)(), void (*probe)());

// Frame-size resources.
bool BuildFrameResources(bool usePow2, int32_t pitch, bool useF16);
bool ReleaseFrameResources();
HRESULT CreateQuad(Renderer* renderer);
HRESULT CreateTempTexture(Renderer* renderer, IDirect3DTexture9** slot);
HRESULT CreateTargetTextures(Renderer* renderer, IDirect3DTexture9** targetSlot,
                             IDirect3DTexture9** systemSlot);
int32_t NextPow2(int32_t n);

// Parameters and passes.
bool SetEffectParams(const int32_t* track);
bool RenderPasses();

// Pixel transfer.
bool UploadFrame(const PIXEL_YC* frame);
bool DownloadFrame(PIXEL_YC* frame);
HRESULT CopyToDevice(Renderer* renderer, const PIXEL_YC* frame);
HRESULT CopyFromDevice(Renderer* renderer, PIXEL_YC* frame);
