#include "platform/d3d9/texture.h"

#include <cstring>

Texture* AsTexture(IDirect3DBaseTexture9* texture) { return dynamic_cast<Texture*>(texture); }

HRESULT Texture::Create(Device* device, UINT width, UINT height, DWORD usage,
                        const FormatInfo& format, D3DPOOL pool, IDirect3DTexture9** texture) {
    auto* created = new Texture(device, width, height, usage, format, pool);
    HRESULT result = created->Allocate();
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *texture = created;
    return D3D_OK;
}

Texture::Texture(Device* device, UINT width, UINT height, DWORD usage, const FormatInfo& format,
                 D3DPOOL pool)
    : DeviceChild(device),
      width_(width),
      height_(height),
      usage_(usage),
      format_(format),
      pool_(pool) {}

Texture::~Texture() {
    if (device().Pending(batch_)) device().Flush();
    device().DestroyImage(&image_);
    device().DestroyHostBuffer(&host_);
}

HRESULT Texture::AllocateHostMemory() {
    // Rows on 16-byte boundaries let the caller move whole texels with
    // aligned vector stores; 16 is a multiple of every texel size, so the
    // pitch is also a whole number of texels for the copies.
    pitch_ = (width_ * format_.texelBytes + 15) & ~15u;
    VkDeviceSize size = VkDeviceSize{pitch_} * height_;
    HRESULT result = device().CreateHostBuffer(
        size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT, &host_);
    if (FAILED(result)) return result;
    std::memset(host_.mapped, 0, size);
    return D3D_OK;
}

HRESULT Texture::Allocate() {
    if (pool_ == D3DPOOL_SYSTEMMEM || isDynamic()) {
        HRESULT result = AllocateHostMemory();
        if (FAILED(result) || pool_ == D3DPOOL_SYSTEMMEM) return result;
    }
    VkImageUsageFlags usage = VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT |
                              VK_IMAGE_USAGE_TRANSFER_DST_BIT;
    if (isRenderTarget()) usage |= VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT;
    HRESULT result = device().CreateImage(width_, height_, format_.vulkan, usage, &image_);
    if (FAILED(result)) return result;

    // Start from zeros rather than whatever the memory held.
    device().Prepare(&image_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkClearColorValue zero{};
    VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(device().Commands(), image_.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                         &zero, 1, &range);
    MarkUsed();
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) {
    if (ppSurfaceLevel == nullptr || Level != 0) return D3DERR_INVALIDCALL;
    surface_.AddRef();
    *ppSurfaceLevel = &surface_;
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD) {
    if (pLockedRect == nullptr || Level != 0) return D3DERR_INVALIDCALL;
    // Static default-pool textures live in memory the processor cannot reach.
    if (host_.mapped == nullptr || locked_) return D3DERR_INVALIDCALL;
    UINT left = 0;
    UINT top = 0;
    if (pRect != nullptr) {
        if (pRect->left < 0 || pRect->top < 0 || pRect->left >= pRect->right ||
            pRect->top >= pRect->bottom || static_cast<UINT>(pRect->right) > width_ ||
            static_cast<UINT>(pRect->bottom) > height_) {
            return D3DERR_INVALIDCALL;
        }
        left = static_cast<UINT>(pRect->left);
        top = static_cast<UINT>(pRect->top);
    }
    // System memory is only ever in use by Vulkan inside a copy, and copies
    // finish before they return; a dynamic texture's last upload may still
    // wait to run. D3DLOCK_DISCARD has nothing to discard here, as in
    // Direct3D 9's system-memory pool.
    if (device().Pending(batch_)) {
        HRESULT result = device().Flush();
        if (FAILED(result)) return result;
    }
    locked_ = true;
    pLockedRect->Pitch = static_cast<INT>(pitch_);
    pLockedRect->pBits = static_cast<BYTE*>(host_.mapped) + size_t{top} * pitch_ +
                         size_t{left} * format_.texelBytes;
    return D3D_OK;
}

HRESULT Texture::UnlockRect(UINT Level) {
    if (Level != 0 || !locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    if (pool_ == D3DPOOL_DEFAULT) {
        VkBufferImageCopy region{};
        region.bufferRowLength = pitch_ / format_.texelBytes;
        region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
        region.imageExtent = {width_, height_, 1};
        device().Barrier();
        device().Prepare(&image_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
        vkCmdCopyBufferToImage(device().Commands(), host_.buffer, image_.image,
                               VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
        MarkUsed();
    }
    return D3D_OK;
}
