// The two entry points through which the plug-in obtains its Direct3D object
// and its effect. Unit tests link these definitions instead of the stand-ins:
// while a MockEntryPoints exists the calls go to it, otherwise they fail.
#pragma once

#include <gmock/gmock.h>

#include "platform/d3dx9_api.h"

class MockEntryPoints {
public:
    MockEntryPoints();
    ~MockEntryPoints();
    MockEntryPoints(const MockEntryPoints&) = delete;
    MockEntryPoints& operator=(const MockEntryPoints&) = delete;

    MOCK_METHOD(IDirect3D9*, Direct3DCreate9, (UINT));
    MOCK_METHOD(HRESULT, D3DXCreateEffectFromFileW,
                (LPDIRECT3DDEVICE9, LPCWSTR, const D3DXMACRO*, LPD3DXINCLUDE, DWORD,
                 LPD3DXEFFECTPOOL, LPD3DXEFFECT*, LPD3DXBUFFER*));
};
