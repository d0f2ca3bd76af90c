// The Direct3D 9 formats the stand-in device knows, with their Vulkan twins.
#pragma once

#include <vulkan/vulkan.h>

#include "platform/d3d9_api.h"

struct FormatInfo {
    D3DFORMAT d3d;
    VkFormat vulkan;
    UINT texelBytes;
};

// Null for a format the device does not know.
const FormatInfo* FindFormat(D3DFORMAT format);
