// Moving the frame between the host's buffer and the render target through the
// system-memory twin texSys, which is the only texture the processor touches.
#include "diag/report.h"
#include "plugin/plugin.h"
#include "renderer/convert.h"
#include "renderer/renderer.h"

bool UploadFrame(const PIXEL_YC* frame) {
    const HRESULT hr = CopyToDevice(g_renderer, frame);
    if (FAILED(hr)) {
        ReportError("./renderer/support.cpp", __LINE__, hr,
                    WIDE("デバイスへコピーできませんでした"), TRUE);
        return false;
    }
    return true;
}

bool DownloadFrame(PIXEL_YC* frame) {
    const HRESULT hr = CopyFromDevice(g_renderer, frame);
    if (FAILED(hr)) {
        ReportError("./renderer/support.cpp", __LINE__, hr,
                    WIDE("デバイスからコピーできませんでした"), TRUE);
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
