#include "tests/fakes/platform_entry_points.h"

namespace {
MockEntryPoints* g_current = nullptr;
}

MockEntryPoints::MockEntryPoints() { g_current = this; }
MockEntryPoints::~MockEntryPoints() { g_current = nullptr; }

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    return g_current != nullptr ? g_current->Direct3DCreate9(sdkVersion) : nullptr;
}

HRESULT D3DXCreateEffectFromFileW(LPDIRECT3DDEVICE9 device, LPCWSTR file, const D3DXMACRO* defines,
                                  LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTPOOL pool,
                                  LPD3DXEFFECT* effect, LPD3DXBUFFER* errors) {
    if (g_current == nullptr) return E_FAIL;
    return g_current->D3DXCreateEffectFromFileW(device, file, defines, include, flags, pool, effect,
                                                errors);
}
