// A Direct3D object and device on the Vulkan stand-in for each test, with the
// validation layers watching: any message they print fails the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/d3d9/vulkan_validation.h"
#include "platform/d3d9_api.h"

// Any non-null window will do: nothing is presented.
inline HWND FakeWindow() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234)); }

inline HRESULT CreatePluginDevice(IDirect3D9* d3d, IDirect3DDevice9** device) {
    D3DPRESENT_PARAMETERS parameters{};
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.Windowed = TRUE;
    parameters.BackBufferFormat = D3DFMT_UNKNOWN;
    return d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, FakeWindow(),
                             D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_NOWINDOWCHANGES | D3DCREATE_FPU_PRESERVE,
                             &parameters, device);
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        messagesBefore_ = VulkanValidationMessageCount();
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr) << "no Vulkan device";
        ASSERT_TRUE(VulkanValidationActive()) << "the tests run with Vulkan validation";
        ASSERT_EQ(CreatePluginDevice(d3d_, &device_), D3D_OK);
    }

    void TearDown() override {
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u) << "device still referenced";
        }
        if (d3d_ != nullptr) {
            EXPECT_EQ(d3d_->Release(), 0u) << "Direct3D still referenced";
        }
        EXPECT_EQ(VulkanValidationMessageCount(), messagesBefore_)
            << "Vulkan validation reported problems (see stderr)";
    }

    IDirect3DTexture9* MakeTexture(UINT width, UINT height, DWORD usage, D3DFORMAT format,
                                   D3DPOOL pool) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(width, height, 1, usage, format, pool, &texture, nullptr),
                  D3D_OK)
            << width << "x" << height << " format " << format << " pool " << pool;
        return texture;
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;

private:
    uint32_t messagesBefore_ = 0;
};

// Texels as raw bytes, rows tightly packed: four components of two bytes
// (half precision) or four (single precision) each.
struct Image {
    UINT width = 0;
    UINT height = 0;
    UINT componentBytes = 4;
    std::vector<uint8_t> bytes;

    size_t rowBytes() const { return size_t{width} * 4 * componentBytes; }
    // Component c of texel (x, y) as its bit pattern.
    uint32_t Bits(UINT x, UINT y, int c) const;
    void SetBits(UINT x, UINT y, int c, uint32_t bits);
};

Image MakeImage(UINT width, UINT height, bool half);
// Writes the image into a system-memory texture of the same size and format.
void WriteTexture(IDirect3DTexture9* texture, const Image& image);
// Reads the top-left width x height texels of a system-memory texture.
Image ReadTexture(IDirect3DTexture9* texture, UINT width, UINT height, bool half);
// Compares bit patterns component by component; names the first differences.
::testing::AssertionResult SameBits(const Image& expected, const Image& actual);
