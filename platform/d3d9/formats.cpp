#include "platform/d3d9/formats.h"

namespace {

// A8R8G8B8 is stored B, G, R, A in memory, which is Vulkan's B8G8R8A8; the
// float formats name their components from the high end, so A32B32G32R32F is
// R, G, B, A in memory.
constexpr FormatInfo kFormats[] = {
    {D3DFMT_A8R8G8B8, VK_FORMAT_B8G8R8A8_UNORM, 4},
    {D3DFMT_X8R8G8B8, VK_FORMAT_B8G8R8A8_UNORM, 4},
    {D3DFMT_A16B16G16R16F, VK_FORMAT_R16G16B16A16_SFLOAT, 8},
    {D3DFMT_A32B32G32R32F, VK_FORMAT_R32G32B32A32_SFLOAT, 16},
};

}  // namespace

const FormatInfo* FindFormat(D3DFORMAT format) {
    for (const FormatInfo& info : kFormats) {
        if (info.d3d == format) return &info;
    }
    return nullptr;
}
