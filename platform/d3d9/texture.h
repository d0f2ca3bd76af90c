// IDirect3DTexture9 with one level. In the default pool it is a Vulkan image
// (sampled, copied, and drawn into when it is a render target); in the
// system-memory pool it is host memory in a Vulkan buffer, rows starting on
// 16-byte boundaries, which LockRect hands out directly. A dynamic texture
// of the default pool has both: LockRect hands out the host memory, and
// UnlockRect copies it into the image.
#pragma once

#include <cstdint>

#include "platform/d3d9/device.h"
#include "platform/d3d9/device_child.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/surface.h"

class Texture final : public DeviceChild<IDirect3DTexture9> {
public:
    static HRESULT Create(Device* device, UINT width, UINT height, DWORD usage,
                          const FormatInfo& format, D3DPOOL pool, IDirect3DTexture9** texture);

    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;

    UINT width() const { return width_; }
    UINT height() const { return height_; }
    const FormatInfo& format() const { return format_; }
    D3DPOOL pool() const { return pool_; }
    bool isRenderTarget() const { return (usage_ & D3DUSAGE_RENDERTARGET) != 0; }
    bool isDynamic() const { return (usage_ & D3DUSAGE_DYNAMIC) != 0; }
    bool isLocked() const { return locked_; }
    DeviceImage& image() { return image_; }
    VkBuffer hostBuffer() const { return host_.buffer; }
    // Row pitch of the host memory, in bytes.
    UINT pitch() const { return pitch_; }
    // Records that the current batch of commands uses this texture.
    void MarkUsed() { batch_ = device().batch(); }

private:
    Texture(Device* device, UINT width, UINT height, DWORD usage, const FormatInfo& format,
            D3DPOOL pool);
    ~Texture() override;
    HRESULT Allocate();
    HRESULT AllocateHostMemory();

    UINT width_;
    UINT height_;
    DWORD usage_;
    const FormatInfo& format_;
    D3DPOOL pool_;
    UINT pitch_ = 0;
    DeviceImage image_;
    HostBuffer host_;
    bool locked_ = false;
    uint64_t batch_ = 0;
    Surface surface_{this};
};

// The stand-in's texture behind an interface pointer; null for anything else.
Texture* AsTexture(IDirect3DBaseTexture9* texture);
