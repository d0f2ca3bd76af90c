#include "platform/d3dx9_api.h"

// Placeholder until the effect framework exists.
HRESULT D3DXCreateEffectFromFileW(LPDIRECT3DDEVICE9, LPCWSTR, const D3DXMACRO*, LPD3DXINCLUDE,
                                  DWORD, LPD3DXEFFECTPOOL, LPD3DXEFFECT* ppEffect,
                                  LPD3DXBUFFER* ppCompilationErrors) {
    if (ppEffect != nullptr) *ppEffect = nullptr;
    if (ppCompilationErrors != nullptr) *ppCompilationErrors = nullptr;
    return E_NOTIMPL;
}
