// IDirect3DDevice9 on Vulkan: one logical device and queue, one command buffer
// that collects the work of a scene or a copy, and the state of the draws.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>

#include "platform/d3d9/device_child.h"
#include "platform/d3d9_api.h"

class Direct3D9;
class ShaderProgram;
class Texture;
class VertexBuffer;
class VertexDeclaration;

int FindGraphicsQueueFamily(VkPhysicalDevice device);

// Maps a Vulkan failure onto the Direct3D 9 result a caller can act on.
HRESULT ResultFromVulkan(VkResult result);

struct DeviceImage {
    VkImage image = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    VkImageView view = VK_NULL_HANDLE;
    // The layout the recorded commands leave the image in.
    VkImageLayout layout = VK_IMAGE_LAYOUT_UNDEFINED;
};

struct HostBuffer {
    VkBuffer buffer = VK_NULL_HANDLE;
    VkDeviceMemory memory = VK_NULL_HANDLE;
    void* mapped = nullptr;
};

class Device final : public IDirect3DDevice9 {
public:
    static HRESULT Create(Direct3D9* d3d, IDirect3DDevice9** device);

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override;
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                          D3DPOOL Pool, IDirect3DTexture9** ppTexture,
                          HANDLE* pSharedHandle) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer,
                               HANDLE* pSharedHandle) override;
    HRESULT UpdateTexture(IDirect3DBaseTexture9* pSourceTexture,
                          IDirect3DBaseTexture9* pDestinationTexture) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* pRenderTarget,
                                IDirect3DSurface9* pDestSurface) override;
    HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                          UINT PrimitiveCount) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                    IDirect3DVertexDeclaration9** ppDecl) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                            UINT OffsetInBytes, UINT Stride) override;

    // For the objects of this device and the effect framework.
    VkDevice vk() const { return device_; }
    VkImageView blankImageView() const { return blank_.view; }

    // The command buffer being recorded, begun on first use.
    VkCommandBuffer Commands();
    // Makes everything recorded so far finish before the next command runs.
    void Barrier();
    // Records the layout change an image needs for its next use.
    void Prepare(DeviceImage* image, VkImageLayout layout);
    // Submits what was recorded and waits for it: afterwards nothing of this
    // device is in use by Vulkan.
    HRESULT Flush();
    // Number of the batch now being recorded; an object used in it must not be
    // changed or destroyed before a Flush.
    uint64_t batch() const { return batch_; }
    bool Pending(uint64_t batch) const { return recording_ && batch == batch_; }

    HRESULT CreateImage(UINT width, UINT height, VkFormat format, VkImageUsageFlags usage,
                        DeviceImage* image);
    void DestroyImage(DeviceImage* image);
    HRESULT CreateHostBuffer(VkDeviceSize size, VkBufferUsageFlags usage, HostBuffer* buffer);
    void DestroyHostBuffer(HostBuffer* buffer);

    // The pass whose pixel shader the next draws use; null when none.
    void SetShaderProgram(ShaderProgram* program) { program_ = program; }

private:
    explicit Device(Direct3D9* d3d);
    ~Device() override;
    HRESULT Initialise();
    HRESULT AllocateMemory(const VkMemoryRequirements& requirements,
                           VkMemoryPropertyFlags required, VkMemoryPropertyFlags preferred,
                           VkDeviceMemory* memory);
    void UnbindAll();

    ULONG refs_ = 1;
    Direct3D9* d3d_;
    VkDevice device_ = VK_NULL_HANDLE;
    VkQueue queue_ = VK_NULL_HANDLE;
    uint32_t queueFamily_ = 0;
    VkCommandPool commandPool_ = VK_NULL_HANDLE;
    VkCommandBuffer commands_ = VK_NULL_HANDLE;
    VkFence fence_ = VK_NULL_HANDLE;
    bool recording_ = false;
    uint64_t batch_ = 1;
    VkPhysicalDeviceMemoryProperties memoryProperties_{};
    UINT maxImageSize_ = 0;
    DeviceImage blank_;

    bool inScene_ = false;
    Texture* renderTarget_ = nullptr;
    VertexDeclaration* declaration_ = nullptr;
    VertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;
    ShaderProgram* program_ = nullptr;
};

template <class Interface>
void DeviceChild<Interface>::AddRefDevice() {
    device_->AddRef();
}

template <class Interface>
void DeviceChild<Interface>::ReleaseDevice(Device* device) {
    device->Release();
}
