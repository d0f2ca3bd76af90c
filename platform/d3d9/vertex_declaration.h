// IDirect3DVertexDeclaration9, reduced to what the draws need to know.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/device_child.h"

constexpr int kTexcoordSets = 8;

// Where a vertex's pre-transformed position and texture coordinates lie.
struct VertexLayout {
    bool pretransformed = false;
    bool singleStream = true;
    UINT positionOffset = 0;
    int32_t texcoordOffset[kTexcoordSets] = {-1, -1, -1, -1, -1, -1, -1, -1};
    uint8_t texcoordComponents[kTexcoordSets] = {};
    // Bytes of a vertex that the elements cover.
    UINT end = 0;

    bool operator==(const VertexLayout&) const = default;
};

class VertexDeclaration final : public DeviceChild<IDirect3DVertexDeclaration9> {
public:
    // D3DERR_INVALIDCALL for elements Direct3D 9 refuses.
    static HRESULT Create(Device* device, const D3DVERTEXELEMENT9* elements,
                          IDirect3DVertexDeclaration9** declaration);

    const VertexLayout& layout() const { return layout_; }

private:
    VertexDeclaration(Device* device, const VertexLayout& layout)
        : DeviceChild(device), layout_(layout) {}
    ~VertexDeclaration() override = default;

    VertexLayout layout_;
};

VertexDeclaration* AsVertexDeclaration(IDirect3DVertexDeclaration9* declaration);
