// The D3DX 9 names the plug-in is written against: the effect framework and
// the half-precision conversions. On Windows they come from the SDK (linked
// against d3dx9_30.dll); elsewhere platform/d3dx9/ implements this subset.
#pragma once

#include "platform/d3d9_api.h"

#ifdef _WIN32

#include <d3dx9.h>

#else  // !_WIN32

#define D3DXERR_INVALIDDATA MAKE_D3DHRESULT(2905)

typedef const char* D3DXHANDLE;

typedef struct _D3DXMACRO {
    LPCSTR Name;
    LPCSTR Definition;
} D3DXMACRO;

typedef struct D3DXVECTOR4 {
    FLOAT x, y, z, w;
} D3DXVECTOR4;

typedef struct D3DXFLOAT16 {
    WORD value;
} D3DXFLOAT16;

class ID3DXInclude;

class ID3DXBuffer : public IUnknown {
public:
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};

class ID3DXEffectPool : public IUnknown {};

class ID3DXEffect : public IUnknown {
public:
    virtual D3DXHANDLE GetParameterByName(D3DXHANDLE hParameter, LPCSTR pName) = 0;
    virtual HRESULT SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) = 0;
    virtual HRESULT SetTexture(D3DXHANDLE hParameter, LPDIRECT3DBASETEXTURE9 pTexture) = 0;
    virtual HRESULT SetTechnique(D3DXHANDLE hTechnique) = 0;
    virtual HRESULT Begin(UINT* pPasses, DWORD Flags) = 0;
    virtual HRESULT BeginPass(UINT Pass) = 0;
    virtual HRESULT EndPass() = 0;
    virtual HRESULT End() = 0;
};

typedef ID3DXInclude* LPD3DXINCLUDE;
typedef ID3DXBuffer* LPD3DXBUFFER;
typedef ID3DXEffectPool* LPD3DXEFFECTPOOL;
typedef ID3DXEffect* LPD3DXEFFECT;

HRESULT D3DXCreateEffectFromFileW(LPDIRECT3DDEVICE9 pDevice, LPCWSTR pSrcFile,
                                  const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                                  LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                                  LPD3DXBUFFER* ppCompilationErrors);

D3DXFLOAT16* D3DXFloat32To16Array(D3DXFLOAT16* pOut, const FLOAT* pIn, UINT n);
FLOAT* D3DXFloat16To32Array(FLOAT* pOut, const D3DXFLOAT16* pIn, UINT n);

#endif  // _WIN32
