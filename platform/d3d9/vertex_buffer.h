// IDirect3DVertexBuffer9: host-visible memory that the draws read directly.
#pragma once

#include <cstdint>

#include "platform/d3d9/device.h"
#include "platform/d3d9/device_child.h"

class VertexBuffer final : public DeviceChild<IDirect3DVertexBuffer9> {
public:
    static HRESULT Create(Device* device, UINT length, IDirect3DVertexBuffer9** buffer);

    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;

    UINT length() const { return length_; }
    VkBuffer buffer() const { return memory_.buffer; }
    void MarkUsed() { batch_ = device().batch(); }

private:
    VertexBuffer(Device* device, UINT length) : DeviceChild(device), length_(length) {}
    ~VertexBuffer() override;

    UINT length_;
    HostBuffer memory_;
    UINT locks_ = 0;
    uint64_t batch_ = 0;
};

VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* buffer);
