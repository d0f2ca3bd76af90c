#include "platform/d3d9/vertex_buffer.h"

#include <cstring>

VertexBuffer* AsVertexBuffer(IDirect3DVertexBuffer9* buffer) {
    return dynamic_cast<VertexBuffer*>(buffer);
}

HRESULT VertexBuffer::Create(Device* device, UINT length, IDirect3DVertexBuffer9** buffer) {
    auto* created = new VertexBuffer(device, length);
    HRESULT result =
        device->CreateHostBuffer(length, VK_BUFFER_USAGE_VERTEX_BUFFER_BIT, &created->memory_);
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    std::memset(created->memory_.mapped, 0, length);
    *buffer = created;
    return D3D_OK;
}

VertexBuffer::~VertexBuffer() {
    if (device().Pending(batch_)) device().Flush();
    device().DestroyHostBuffer(&memory_);
}

HRESULT VertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD) {
    if (ppbData == nullptr) return D3DERR_INVALIDCALL;
    *ppbData = nullptr;
    // Zero offset and size lock the whole buffer.
    if (OffsetToLock > length_ || SizeToLock > length_ - OffsetToLock) return D3DERR_INVALIDCALL;
    // A draw still waiting to run reads these bytes: let it run first, so
    // the caller may overwrite them (what D3DLOCK_DISCARD promises).
    if (device().Pending(batch_)) {
        HRESULT result = device().Flush();
        if (FAILED(result)) return result;
    }
    ++locks_;
    *ppbData = static_cast<BYTE*>(memory_.mapped) + OffsetToLock;
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock() {
    if (locks_ == 0) return D3DERR_INVALIDCALL;
    --locks_;
    return D3D_OK;
}
