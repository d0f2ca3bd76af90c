#include "platform/d3d9/vertex_declaration.h"

#include <algorithm>

namespace {

constexpr WORD kEndStream = 0xFF;
// More elements than this cannot come from a valid declaration.
constexpr int kMaxElements = 64;

}  // namespace

VertexDeclaration* AsVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    return dynamic_cast<VertexDeclaration*>(declaration);
}

HRESULT VertexDeclaration::Create(Device* device, const D3DVERTEXELEMENT9* elements,
                                  IDirect3DVertexDeclaration9** declaration) {
    VertexLayout layout;
    bool seen[kTexcoordSets + 1] = {};
    int count = 0;
    for (; elements[count].Stream != kEndStream; ++count) {
        if (count == kMaxElements) return D3DERR_INVALIDCALL;
        const D3DVERTEXELEMENT9& element = elements[count];
        if (element.Type > D3DDECLTYPE_FLOAT4 || element.Method != D3DDECLMETHOD_DEFAULT ||
            element.Offset % 4 != 0) {
            return D3DERR_INVALIDCALL;
        }
        UINT components = element.Type + 1u;
        layout.end = std::max<UINT>(layout.end, element.Offset + 4u * components);
        if (element.Stream != 0) layout.singleStream = false;
        if (element.Usage == D3DDECLUSAGE_POSITIONT) {
            if (element.Type != D3DDECLTYPE_FLOAT4 || element.UsageIndex != 0 || seen[0]) {
                return D3DERR_INVALIDCALL;
            }
            seen[0] = true;
            layout.pretransformed = true;
            layout.positionOffset = element.Offset;
        } else if (element.Usage == D3DDECLUSAGE_TEXCOORD) {
            if (element.UsageIndex >= kTexcoordSets || seen[1 + element.UsageIndex]) {
                return D3DERR_INVALIDCALL;
            }
            seen[1 + element.UsageIndex] = true;
            layout.texcoordOffset[element.UsageIndex] = element.Offset;
            layout.texcoordComponents[element.UsageIndex] = static_cast<uint8_t>(components);
        }
    }
    if (count == 0) return D3DERR_INVALIDCALL;
    *declaration = new VertexDeclaration(device, layout);
    return D3D_OK;
}
