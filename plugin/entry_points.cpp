// Start-up and shut-down: the Direct3D object, the device and the renderer
// are owned by these globals from FilterInit to FilterExit.
#include <cstring>
#include <new>

#include "plugin/plugin.h"
#include "renderer/renderer.h"

IDirect3D9* g_d3d = nullptr;
IDirect3DDevice9* g_device = nullptr;
Renderer* g_renderer = nullptr;

BOOL __cdecl FilterInit(FILTER* fp) {
    g_d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (g_d3d == nullptr) return FALSE;

    // A zero back-buffer size follows the focus window; nothing is ever presented.
    D3DPRESENT_PARAMETERS presentation;
    std::memset(&presentation, 0, sizeof presentation);
    presentation.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentation.Windowed = TRUE;
    presentation.BackBufferFormat = D3DFMT_UNKNOWN;
    // The calling thread is the editor's: without FPU_PRESERVE the runtime
    // would leave its x87 unit at single precision under the editor's own
    // double arithmetic.
    HRESULT hr = g_d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, fp->hwnd,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                         D3DCREATE_NOWINDOWCHANGES | D3DCREATE_FPU_PRESERVE,
                                     &presentation, &g_device);
    if (FAILED(hr)) return FALSE;

    g_renderer = new (std::nothrow) Renderer;
    if (g_renderer == nullptr) return FALSE;
    RendererInit(g_renderer);
    return AttachDevice() ? TRUE : FALSE;
}

BOOL __cdecl FilterExit(FILTER*) {
    if (g_renderer != nullptr) {
        RendererRelease(g_renderer);
        delete g_renderer;
        g_renderer = nullptr;
        g_frameResourcesGone = true;
    }
    if (g_device != nullptr) {
        g_device->Release();
        g_device = nullptr;
    }
    if (g_d3d != nullptr) {
        g_d3d->Release();
        g_d3d = nullptr;
    }
    return TRUE;
}
