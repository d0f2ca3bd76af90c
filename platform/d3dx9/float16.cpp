#include "platform/d3dx9_api.h"

// Placeholder until the half-precision conversions exist.
D3DXFLOAT16* D3DXFloat32To16Array(D3DXFLOAT16* pOut, const FLOAT*, UINT) { return pOut; }
FLOAT* D3DXFloat16To32Array(FLOAT* pOut, const D3DXFLOAT16*, UINT) { return pOut; }
