// A whole Direct3D 9 + D3DX world of doubles that works by default: a capable
// device, an effect declaring every parameter with two passes, textures with
// real memory behind LockRect. Tests override single calls to make them fail
// and inspect what the plug-in created and set.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/fakes/platform_entry_points.h"
#include "tests/mocks/d3d9_mocks.h"

struct FakeTexture {
    testing::NiceMock<MockTexture> texture;
    FakeSurface surface;
    UINT width = 0;
    UINT height = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    std::vector<unsigned char> memory;
};

class FakeGpu {
public:
    testing::NiceMock<MockEntryPoints> entry;
    testing::NiceMock<MockDirect3D9> d3d;
    testing::NiceMock<MockDevice> device;
    testing::NiceMock<MockEffect> effect;
    testing::NiceMock<MockVertexBuffer> vertexBuffer;
    FakeVertexDeclaration declaration;
    testing::NiceMock<MockBuffer> compilerErrors;
    std::deque<FakeTexture> textures;

    D3DCAPS9 caps = {};
    std::set<std::string> parameters = {"txTgt",  "txTmp",  "ycOffs",  "ycAmp",
                                        "bgrOffs", "bgrAmp", "bgrGamma"};
    UINT passes = 2;
    // CreateTexture number failTexture (1 = the first) returns textureFailure.
    int failTexture = 0;
    HRESULT textureFailure = D3DERR_OUTOFVIDEOMEMORY;
    HRESULT surfaceFailure = S_OK;

    std::vector<D3DVERTEXELEMENT9> declarationElements;
    alignas(16) unsigned char vertexMemory[128] = {};
    std::map<std::string, D3DXVECTOR4> vectors;
    int vectorsSet = 0;

    FakeGpu() {
        using testing::_;
        caps.DeviceType = D3DDEVTYPE_HAL;
        caps.Caps2 = D3DCAPS2_DYNAMICTEXTURES;
        ON_CALL(entry, Direct3DCreate9(_)).WillByDefault([this](UINT) { return Hand(d3d); });
        ON_CALL(d3d, GetDeviceCaps(_, _, _)).WillByDefault([this](UINT, D3DDEVTYPE, D3DCAPS9* out) {
            *out = caps;
            return S_OK;
        });
        ON_CALL(d3d, CreateDevice(_, _, _, _, _, _))
            .WillByDefault([this](UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                  IDirect3DDevice9** out) {
                *out = Hand(device);
                return S_OK;
            });
        ON_CALL(device, GetDisplayMode(_, _)).WillByDefault([](UINT, D3DDISPLAYMODE* mode) {
            mode->Format = D3DFMT_X8R8G8B8;
            return S_OK;
        });
        ON_CALL(entry, D3DXCreateEffectFromFileW(_, _, _, _, _, _, _, _))
            .WillByDefault([this](LPDIRECT3DDEVICE9, LPCWSTR, const D3DXMACRO*, LPD3DXINCLUDE,
                                  DWORD, LPD3DXEFFECTPOOL, LPD3DXEFFECT* out,
                                  LPD3DXBUFFER* errors) {
                *out = Hand(effect);
                *errors = nullptr;
                return S_OK;
            });
        ON_CALL(effect, GetParameterByName(_, _))
            .WillByDefault([this](D3DXHANDLE, LPCSTR name) -> D3DXHANDLE {
                auto found = parameters.find(name);
                return found != parameters.end() ? found->c_str() : nullptr;
            });
        ON_CALL(effect, SetVector(_, _))
            .WillByDefault([this](D3DXHANDLE parameter, const D3DXVECTOR4* vector) {
                vectors[parameter] = *vector;
                ++vectorsSet;
                return S_OK;
            });
        ON_CALL(effect, Begin(_, _)).WillByDefault([this](UINT* count, DWORD) {
            *count = passes;
            return S_OK;
        });
        ON_CALL(device, CreateVertexDeclaration(_, _))
            .WillByDefault([this](const D3DVERTEXELEMENT9* elements,
                                  IDirect3DVertexDeclaration9** out) {
                declarationElements.clear();
                do declarationElements.push_back(*elements);
                while ((elements++)->Stream != 0xFF);
                *out = Hand(declaration);
                return S_OK;
            });
        ON_CALL(device, CreateVertexBuffer(_, _, _, _, _, _))
            .WillByDefault([this](UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** out,
                                  HANDLE*) {
                *out = Hand(vertexBuffer);
                return S_OK;
            });
        ON_CALL(vertexBuffer, Lock(_, _, _, _)).WillByDefault([this](UINT, UINT, void** data, DWORD) {
            *data = vertexMemory;
            return S_OK;
        });
        ON_CALL(device, CreateTexture(_, _, _, _, _, _, _, _))
            .WillByDefault([this](UINT width, UINT height, UINT, DWORD usage, D3DFORMAT format,
                                  D3DPOOL pool, IDirect3DTexture9** out, HANDLE*) {
                if (static_cast<int>(textures.size()) + 1 == failTexture) {
                    failTexture = 0;
                    return textureFailure;
                }
                *out = Hand(NewTexture(width, height, usage, format, pool));
                return S_OK;
            });
    }

    // The effect compile fails with hr and hands back text in an error buffer
    // that claims size bytes (by default the text and its terminator).
    void FailCompile(HRESULT hr, std::string text, DWORD size = ~0u) {
        using testing::_;
        compilerText = std::move(text);
        const DWORD bytes = size != ~0u ? size : static_cast<DWORD>(compilerText.size() + 1);
        ON_CALL(compilerErrors, GetBufferPointer()).WillByDefault([this] {
            return compilerText.data();
        });
        ON_CALL(compilerErrors, GetBufferSize()).WillByDefault(testing::Return(bytes));
        ON_CALL(entry, D3DXCreateEffectFromFileW(_, _, _, _, _, _, _, _))
            .WillByDefault([this, hr](LPDIRECT3DDEVICE9, LPCWSTR, const D3DXMACRO*, LPD3DXINCLUDE,
                                      DWORD, LPD3DXEFFECTPOOL, LPD3DXEFFECT* out,
                                      LPD3DXBUFFER* errors) {
                *out = nullptr;
                *errors = Hand(compilerErrors);
                return hr;
            });
    }

    // Every object handed to the plug-in has been released as often as acquired.
    void ExpectEverythingReleased() const {
        EXPECT_EQ(d3d.refs(), 0) << "references left on the Direct3D object";
        EXPECT_EQ(device.refs(), 0) << "references left on the device";
        EXPECT_EQ(effect.refs(), 0) << "references left on the effect";
        EXPECT_EQ(vertexBuffer.refs(), 0) << "references left on the vertex buffer";
        EXPECT_EQ(declaration.refs(), 0) << "references left on the vertex declaration";
        EXPECT_EQ(compilerErrors.refs(), 0) << "references left on the compiler's error buffer";
        for (size_t i = 0; i < textures.size(); ++i) {
            EXPECT_EQ(textures[i].texture.refs(), 0) << "references left on texture " << i;
            EXPECT_EQ(textures[i].surface.refs(), 0) << "references left on surface " << i;
        }
    }

private:
    std::string compilerText;

    template <class Object>
    static Object* Hand(Object& object) {
        object.AddRef();
        return &object;
    }

    MockTexture& NewTexture(UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
        using testing::_;
        FakeTexture& fake = textures.emplace_back();
        fake.width = width;
        fake.height = height;
        fake.usage = usage;
        fake.format = format;
        fake.pool = pool;
        const UINT texelBytes = format == D3DFMT_A16B16G16R16F ? 8 : 16;
        fake.memory.resize(static_cast<size_t>(width) * height * texelBytes);
        ON_CALL(fake.texture, GetSurfaceLevel(_, _))
            .WillByDefault([this, &fake](UINT, IDirect3DSurface9** out) {
                if (FAILED(surfaceFailure)) return surfaceFailure;
                *out = Hand(fake.surface);
                return S_OK;
            });
        ON_CALL(fake.texture, LockRect(_, _, _, _))
            .WillByDefault([&fake, texelBytes](UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) {
                locked->pBits = fake.memory.data();
                locked->Pitch = static_cast<INT>(fake.width * texelBytes);
                return S_OK;
            });
        return fake.texture;
    }
};
