#include "platform/d3d9_api.h"

// Placeholder until the Vulkan device exists: no device, so start-up fails cleanly.
IDirect3D9* Direct3DCreate9(UINT) { return nullptr; }
