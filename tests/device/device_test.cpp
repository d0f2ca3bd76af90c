// The Direct3D 9 stand-in on Vulkan, driven through the interfaces the plug-in
// uses: capabilities, argument checks, textures, copies and reference counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tests/device/device_fixture.h"
#include "tests/device/effect_runner.h"
#include "tests/device/memory_use.h"

namespace {

constexpr D3DFORMAT kFloatFormats[] = {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F};

bool IsHalf(D3DFORMAT format) { return format == D3DFMT_A16B16G16R16F; }

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// Every 16-bit pattern: for half precision the patterns themselves; for single
// precision every 16-bit integer on the plug-in's scale (v / 4096), the
// values single-precision texels must hold exactly.
Image AllComponentValues(UINT width, UINT height, bool half) {
    Image image = MakeImage(width, height, half);
    uint32_t n = 0;
    for (UINT y = 0; y < height; ++y) {
        for (UINT x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c, n += 7919) {  // a stride coprime to 2^16
                uint16_t pattern = static_cast<uint16_t>(n);
                uint32_t bits = half ? pattern
                                     : FloatBits(static_cast<int16_t>(pattern) / 4096.0f);
                image.SetBits(x, y, c, bits);
            }
        }
    }
    return image;
}

// Uploads an image through a system-memory texture into a render target and
// reads it back through a second system-memory texture.
Image RoundTrip(IDirect3DDevice9* device, const Image& image, D3DFORMAT format) {
    IDirect3DTexture9* up = nullptr;
    IDirect3DTexture9* target = nullptr;
    IDirect3DTexture9* down = nullptr;
    EXPECT_EQ(device->CreateTexture(image.width, image.height, 1, 0, format, D3DPOOL_SYSTEMMEM,
                                    &up, nullptr),
              D3D_OK);
    EXPECT_EQ(device->CreateTexture(image.width, image.height, 1, D3DUSAGE_RENDERTARGET, format,
                                    D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    EXPECT_EQ(device->CreateTexture(image.width, image.height, 1, 0, format, D3DPOOL_SYSTEMMEM,
                                    &down, nullptr),
              D3D_OK);
    Image result;
    if (up != nullptr && target != nullptr && down != nullptr) {
        WriteTexture(up, image);
        EXPECT_EQ(device->UpdateTexture(up, target), D3D_OK);
        IDirect3DSurface9* targetSurface = nullptr;
        IDirect3DSurface9* downSurface = nullptr;
        EXPECT_EQ(target->GetSurfaceLevel(0, &targetSurface), D3D_OK);
        EXPECT_EQ(down->GetSurfaceLevel(0, &downSurface), D3D_OK);
        EXPECT_EQ(device->GetRenderTargetData(targetSurface, downSurface), D3D_OK);
        downSurface->Release();
        targetSurface->Release();
        result = ReadTexture(down, image.width, image.height, IsHalf(format));
    }
    if (down != nullptr) down->Release();
    if (target != nullptr) target->Release();
    if (up != nullptr) up->Release();
    return result;
}

}  // namespace

TEST(Direct3DCreate9Test, RefusesAnotherSdkVersion) {
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION + 1), nullptr);
}

TEST_F(DeviceTest, ReportsTheCapabilitiesThePluginNeeds) {
    D3DCAPS9 caps{};
    ASSERT_EQ(d3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(caps.AdapterOrdinal, 0u);
    EXPECT_TRUE(caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES);
    EXPECT_FALSE(caps.TextureCaps & (D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY));

    D3DDISPLAYMODE mode{};
    ASSERT_EQ(device_->GetDisplayMode(0, &mode), D3D_OK);
    for (D3DFORMAT format : kFloatFormats) {
        EXPECT_EQ(d3d_->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format,
                                          D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, format),
                  D3D_OK)
            << "format " << format;
    }
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, mode.Format, 0, D3DRTYPE_TEXTURE,
                                      static_cast<D3DFORMAT>(999)),
              D3DERR_NOTAVAILABLE);
}

TEST_F(DeviceTest, RefusesMisuseOfTheDirect3DObject) {
    D3DCAPS9 caps{};
    EXPECT_EQ(d3d_->GetDeviceCaps(1, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d_->CheckDeviceFormat(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE,
                                      D3DFMT_A32B32G32R32F),
              D3DERR_INVALIDCALL);

    D3DPRESENT_PARAMETERS parameters{};
    parameters.Windowed = TRUE;
    IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(1);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                 &parameters, &device),
              D3DERR_INVALIDCALL)
        << "no window at all";
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), 0, &parameters, &device),
              D3DERR_INVALIDCALL)
        << "no vertex processing chosen";
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(),
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, nullptr, &device),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(),
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->GetDisplayMode(1, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, RefusesTexturesDirect3DRefuses) {
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    auto create = [&](UINT w, UINT h, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
        return device_->CreateTexture(w, h, 1, usage, format, pool, &texture, nullptr);
    };
    EXPECT_EQ(create(0, 16, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(create(16, 0, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(16, 16, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(create(16, 16, 0, static_cast<D3DFORMAT>(999), D3DPOOL_DEFAULT),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(create(1u << 20, 16, 0, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
    HANDLE shared = nullptr;
    EXPECT_EQ(device_->CreateTexture(16, 16, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM,
                                     &texture, &shared),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(16, 16, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM,
                                     nullptr, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, SystemMemoryRowsStartOn16ByteBoundaries) {
    for (D3DFORMAT format : kFloatFormats) {
        for (UINT width : {1u, 3u, 5u, 1921u}) {
            IDirect3DTexture9* texture =
                MakeTexture(width, 3, 0, format, D3DPOOL_SYSTEMMEM);
            ASSERT_NE(texture, nullptr);
            D3DLOCKED_RECT locked{};
            ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK),
                      D3D_OK);
            UINT texel = IsHalf(format) ? 8 : 16;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(locked.pBits) % 16, 0u) << "width " << width;
            EXPECT_EQ(locked.Pitch % 16, 0) << "width " << width << " format " << format;
            EXPECT_GE(static_cast<UINT>(locked.Pitch), width * texel) << "width " << width;
            EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL)
                << "locked twice";
            EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
            EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL) << "unlocked twice";

            RECT rect{1 % static_cast<LONG>(width), 1, static_cast<LONG>(width), 3};
            D3DLOCKED_RECT part{};
            ASSERT_EQ(texture->LockRect(0, &part, &rect, D3DLOCK_READONLY), D3D_OK);
            EXPECT_EQ(static_cast<BYTE*>(part.pBits) - static_cast<BYTE*>(locked.pBits),
                      locked.Pitch + rect.left * static_cast<LONG>(texel));
            texture->UnlockRect(0);
            RECT outside{0, 0, static_cast<LONG>(width) + 1, 1};
            EXPECT_EQ(texture->LockRect(0, &part, &outside, 0), D3DERR_INVALIDCALL);
            EXPECT_EQ(texture->LockRect(1, &part, nullptr, 0), D3DERR_INVALIDCALL);
            texture->Release();
        }
    }
    IDirect3DTexture9* target =
        MakeTexture(4, 4, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(target->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL)
        << "default-pool memory is not the processor's";
    target->Release();
}

TEST_F(DeviceTest, CopiesKeepEveryComponentValue) {
    for (D3DFORMAT format : kFloatFormats) {
        // 128 x 128 x 4 components cover all 65,536 patterns; the odd and
        // the one-texel sizes exercise padded and minimal rows.
        for (auto [width, height] : {std::pair{128u, 128u}, {1u, 1u}, {1921u, 1081u}}) {
            Image image = AllComponentValues(width, height, IsHalf(format));
            EXPECT_TRUE(SameBits(image, RoundTrip(device_, image, format)))
                << width << "x" << height << " format " << format;
        }
    }
}

TEST_F(DeviceTest, Copies4096SquareTexturesInBothFormats) {
    for (D3DFORMAT format : kFloatFormats) {
        Image image = AllComponentValues(4096, 4096, IsHalf(format));
        EXPECT_TRUE(SameBits(image, RoundTrip(device_, image, format))) << "format " << format;
    }
}

TEST_F(DeviceTest, RefusesCopiesDirect3DRefuses) {
    IDirect3DTexture9* sys = MakeTexture(8, 8, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM);
    IDirect3DTexture9* target =
        MakeTexture(8, 8, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    IDirect3DTexture9* small =
        MakeTexture(4, 8, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    IDirect3DTexture9* half =
        MakeTexture(8, 8, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16F, D3DPOOL_DEFAULT);
    IDirect3DTexture9* plain = MakeTexture(8, 8, 0, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);

    EXPECT_EQ(device_->UpdateTexture(nullptr, target), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->UpdateTexture(sys, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->UpdateTexture(target, sys), D3DERR_INVALIDCALL) << "pools swapped";
    EXPECT_EQ(device_->UpdateTexture(sys, small), D3DERR_INVALIDCALL) << "sizes differ";
    EXPECT_EQ(device_->UpdateTexture(sys, half), D3DERR_INVALIDCALL) << "formats differ";
    D3DLOCKED_RECT locked{};
    sys->LockRect(0, &locked, nullptr, 0);
    EXPECT_EQ(device_->UpdateTexture(sys, target), D3DERR_INVALIDCALL) << "source locked";
    sys->UnlockRect(0);
    EXPECT_EQ(device_->UpdateTexture(sys, plain), D3D_OK) << "any default-pool texture";

    IDirect3DSurface9* sysSurface = nullptr;
    IDirect3DSurface9* plainSurface = nullptr;
    IDirect3DSurface9* halfSurface = nullptr;
    sys->GetSurfaceLevel(0, &sysSurface);
    plain->GetSurfaceLevel(0, &plainSurface);
    half->GetSurfaceLevel(0, &halfSurface);
    EXPECT_EQ(device_->GetRenderTargetData(plainSurface, sysSurface), D3DERR_INVALIDCALL)
        << "not a render target";
    EXPECT_EQ(device_->GetRenderTargetData(halfSurface, sysSurface), D3DERR_INVALIDCALL)
        << "formats differ";
    EXPECT_EQ(device_->GetRenderTargetData(nullptr, sysSurface), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(0, plainSurface), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(1, halfSurface), D3DERR_INVALIDCALL);
    EXPECT_EQ(sys->GetSurfaceLevel(1, &sysSurface), D3DERR_INVALIDCALL);
    halfSurface->Release();
    plainSurface->Release();
    sysSurface->Release();
    for (IDirect3DTexture9* texture : {sys, target, small, half, plain}) texture->Release();
}

TEST_F(DeviceTest, CountsReferencesLikeDirect3D) {
    IDirect3DTexture9* texture =
        MakeTexture(4, 4, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    EXPECT_EQ(device_->AddRef(), 3u) << "the texture holds the device";
    EXPECT_EQ(device_->Release(), 2u);

    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    EXPECT_EQ(texture->AddRef(), 3u) << "the surface shares the texture's count";
    EXPECT_EQ(texture->Release(), 2u);

    // Bound as render target, the texture outlives the application's
    // references; the device lets it go when it goes itself (the validation
    // layers would report a Vulkan object left behind).
    ASSERT_EQ(device_->SetRenderTarget(0, surface), D3D_OK);
    EXPECT_EQ(surface->Release(), 1u);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(device_->AddRef(), 2u) << "a bound object does not hold the device";
    EXPECT_EQ(device_->Release(), 1u);

    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(128, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                          D3DPOOL_DEFAULT, &buffer, nullptr),
              D3D_OK);
    ASSERT_EQ(device_->SetStreamSource(0, buffer, 0, 32), D3D_OK);
    EXPECT_EQ(buffer->Release(), 0u);
    ASSERT_EQ(device_->SetStreamSource(0, nullptr, 0, 0), D3D_OK) << "unbinding frees it";
}

TEST_F(DeviceTest, ChecksVertexBuffersAndDeclarations) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    EXPECT_EQ(device_->CreateVertexBuffer(0, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->CreateVertexBuffer(128, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                          D3DPOOL_DEFAULT, &buffer, nullptr),
              D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, 129, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Lock(64, 65, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), D3D_OK);
    std::memset(data, 0, 128);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
    buffer->Release();

    IDirect3DVertexDeclaration9* declaration = nullptr;
    const D3DVERTEXELEMENT9 quad[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
        D3DDECL_END()};
    ASSERT_EQ(device_->CreateVertexDeclaration(quad, &declaration), D3D_OK);
    EXPECT_EQ(device_->SetVertexDeclaration(declaration), D3D_OK);
    EXPECT_EQ(declaration->Release(), 0u);
    const D3DVERTEXELEMENT9 twice[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END()};
    EXPECT_EQ(device_->CreateVertexDeclaration(twice, &declaration), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 misaligned[] = {
        {0, 2, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        D3DDECL_END()};
    EXPECT_EQ(device_->CreateVertexDeclaration(misaligned, &declaration), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexDeclaration(nullptr, &declaration), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetStreamSource(16, nullptr, 0, 0), D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, ScenesAreNotNested) {
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL)
        << "a draw outside a scene";
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL)
        << "nothing bound";
    EXPECT_EQ(device_->EndScene(), D3D_OK);
}

// Start-up and shut-down of the whole device with an effect and a frame, as
// FilterInit, FilterProc and FilterExit do, must not accumulate memory. The
// validation layer keeps memory per Vulkan instance of its own, so it watches
// the first cycle only (any object left behind is reported there) and the
// measured cycles run without it.
TEST(DeviceLifetimeTest, HundredCyclesKeepMemoryFlat) {
    uint32_t messagesBefore = VulkanValidationMessageCount();
    std::string effect = WriteEffectFile("cycles.fx", R"(
texture txTgt;
sampler2D smpTgt = sampler_state { Texture = <txTgt>; };
float4 gain = {1, 1, 1, 1};
float4 Scale(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(smpTgt, uv) * gain; }
technique ColorCorrection { pass { PixelShader = compile ps_2_0 Scale(); } }
)");
    auto cycle = [&effect] {
        IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        IDirect3DDevice9* device = nullptr;
        ASSERT_EQ(CreatePluginDevice(d3d, &device), D3D_OK);
        {
            EffectRunner runner(device, 16, 8, D3DFMT_A32B32G32R32F);
            ASSERT_EQ(runner.Load(effect), D3D_OK);
            EXPECT_EQ(runner.Run(MakeImage(16, 8, false)).result, D3D_OK);
        }
        EXPECT_EQ(device->Release(), 0u);
        EXPECT_EQ(d3d->Release(), 0u);
    };
    cycle();
    EXPECT_EQ(VulkanValidationMessageCount(), messagesBefore);
    const char* validation = std::getenv("KELO_VULKAN_VALIDATION");
    std::string saved = validation != nullptr ? validation : "";
    setenv("KELO_VULKAN_VALIDATION", "0", 1);
    for (int i = 0; i < 4; ++i) cycle();  // let the driver's caches fill
    long before = MemoryInUseKilobytes();
    for (int i = 0; i < 100; ++i) cycle();
    long growth = MemoryInUseKilobytes() - before;
    setenv("KELO_VULKAN_VALIDATION", saved.c_str(), 1);

    before = MemoryInUseKilobytes();
    for (int i = 0; i < 100; ++i) DriverOnlyCycle();
    long driverGrowth = MemoryInUseKilobytes() - before;
    EXPECT_LT(growth - driverGrowth, 1024)
        << "memory in use grew by " << growth << " KiB in 100 cycles, the driver's own "
        << driverGrowth << " KiB";
}

// Pipelines, descriptor sets and buffers are made on a pass's first frame;
// later frames only record and submit, so they leave no memory behind.
TEST_F(DeviceTest, FramesAfterTheFirstAllocateNothing) {
    std::string path = WriteEffectFile("steady.fx", R"(
texture txTgt;
texture txTmp;
sampler2D smpTgt = sampler_state { Texture = <txTgt>; };
sampler2D smpTmp = sampler_state { Texture = <txTmp>; };
float4 gain;
float4 Scale(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(smpTgt, uv) * gain; }
float4 Copy(float2 uv : TEXCOORD1) : COLOR0 { return tex2D(smpTmp, uv); }
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 Scale(); }
    pass { PixelShader = compile ps_2_0 Copy(); }
}
)");
    EffectRunner runner(device_, 64, 32, D3DFMT_A16B16G16R16F);
    ASSERT_EQ(runner.Load(path), D3D_OK);
    Image image = MakeImage(64, 32, true);
    ASSERT_EQ(runner.Run(image).result, D3D_OK);
    long before = MemoryInUseKilobytes();
    for (int frame = 0; frame < 50; ++frame) {
        const D3DXVECTOR4 gain{1, 1, 1, frame * 0.5f};
        runner.effect()->SetVector("gain", &gain);
        ASSERT_EQ(runner.Run(image).result, D3D_OK) << "frame " << frame;
    }
    long growth = MemoryInUseKilobytes() - before;
    EXPECT_LT(growth, 64) << "50 frames left " << growth << " KiB in use";
}
