// GoogleMock doubles of every Direct3D 9 and D3DX 9 interface the plug-in
// touches. Reference counts are real (each double counts AddRef and Release
// and never deletes itself), so tests can check that everything handed out is
// released exactly as often as it was acquired.
#pragma once

#include <gmock/gmock.h>

#include "platform/d3d9_api.h"
#include "platform/d3dx9_api.h"

// Counts references like a COM object but stays alive for the test to inspect.
template <class Interface>
class Counted : public Interface {
public:
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override { return static_cast<ULONG>(--refs_); }
    // References held by others than the test that owns the double.
    int refs() const { return refs_ - 1; }

private:
    int refs_ = 1;
};

class MockDirect3D9 : public Counted<IDirect3D9> {
public:
    MOCK_METHOD(HRESULT, GetDeviceCaps, (UINT, D3DDEVTYPE, D3DCAPS9*), (override));
    MOCK_METHOD(HRESULT, CheckDeviceFormat,
                (UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT), (override));
    MOCK_METHOD(HRESULT, CreateDevice,
                (UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*, IDirect3DDevice9**),
                (override));
};

class MockTexture : public Counted<IDirect3DTexture9> {
public:
    MOCK_METHOD(HRESULT, GetSurfaceLevel, (UINT, IDirect3DSurface9**), (override));
    MOCK_METHOD(HRESULT, LockRect, (UINT, D3DLOCKED_RECT*, const RECT*, DWORD), (override));
    MOCK_METHOD(HRESULT, UnlockRect, (UINT), (override));
};

class FakeSurface : public Counted<IDirect3DSurface9> {};

class MockVertexBuffer : public Counted<IDirect3DVertexBuffer9> {
public:
    MOCK_METHOD(HRESULT, Lock, (UINT, UINT, void**, DWORD), (override));
    MOCK_METHOD(HRESULT, Unlock, (), (override));
};

class FakeVertexDeclaration : public Counted<IDirect3DVertexDeclaration9> {};

class MockDevice : public Counted<IDirect3DDevice9> {
public:
    MOCK_METHOD(HRESULT, GetDisplayMode, (UINT, D3DDISPLAYMODE*), (override));
    MOCK_METHOD(HRESULT, CreateTexture,
                (UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*),
                (override));
    MOCK_METHOD(HRESULT, CreateVertexBuffer,
                (UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*), (override));
    MOCK_METHOD(HRESULT, UpdateTexture, (IDirect3DBaseTexture9*, IDirect3DBaseTexture9*),
                (override));
    MOCK_METHOD(HRESULT, GetRenderTargetData, (IDirect3DSurface9*, IDirect3DSurface9*),
                (override));
    MOCK_METHOD(HRESULT, SetRenderTarget, (DWORD, IDirect3DSurface9*), (override));
    MOCK_METHOD(HRESULT, BeginScene, (), (override));
    MOCK_METHOD(HRESULT, EndScene, (), (override));
    MOCK_METHOD(HRESULT, DrawPrimitive, (D3DPRIMITIVETYPE, UINT, UINT), (override));
    MOCK_METHOD(HRESULT, CreateVertexDeclaration,
                (const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9**), (override));
    MOCK_METHOD(HRESULT, SetVertexDeclaration, (IDirect3DVertexDeclaration9*), (override));
    MOCK_METHOD(HRESULT, SetStreamSource, (UINT, IDirect3DVertexBuffer9*, UINT, UINT),
                (override));
};

class MockBuffer : public Counted<ID3DXBuffer> {
public:
    MOCK_METHOD(void*, GetBufferPointer, (), (override));
    MOCK_METHOD(DWORD, GetBufferSize, (), (override));
};

class MockEffect : public Counted<ID3DXEffect> {
public:
    MOCK_METHOD(D3DXHANDLE, GetParameterByName, (D3DXHANDLE, LPCSTR), (override));
    MOCK_METHOD(HRESULT, SetVector, (D3DXHANDLE, const D3DXVECTOR4*), (override));
    MOCK_METHOD(HRESULT, SetTexture, (D3DXHANDLE, LPDIRECT3DBASETEXTURE9), (override));
    MOCK_METHOD(HRESULT, SetTechnique, (D3DXHANDLE), (override));
    MOCK_METHOD(HRESULT, Begin, (UINT*, DWORD), (override));
    MOCK_METHOD(HRESULT, BeginPass, (UINT), (override));
    MOCK_METHOD(HRESULT, EndPass, (), (override));
    MOCK_METHOD(HRESULT, End, (), (override));
};
