// The eight conversions between the host's YC pixels and floating-point
// texels. A texel is (red, green, blue, alpha) = (+0, y, cb, cr) × 2^-12, as
// four floats or four halves. Every routine walks `height` rows of `width`
// pixels: host rows lie `pitch` pixels apart, texture rows `rowTexels` texels
// apart, and nothing beyond the frame is read or written on either side.
//
// The way back multiplies by 4096, rounds to nearest even and saturates to
// -32768..32767, with NaN giving 0, so every routine returns the same pixels
// for the same texels; red is ignored.
//
// The half-precision routines stage each row as single-precision texels in
// `rowBuf` (width × 16 bytes, 16-byte aligned) and convert it with one D3DX
// call per row. The vector routines give results identical to the scalar ones.
#pragma once

#include <cstdint>

#include "platform/d3dx9_api.h"
#include "plugin/filter.h"

void YcToF32(const PIXEL_YC* pixels, float* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch);
void YcToF32Simd(const PIXEL_YC* pixels, float* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch);
void YcToF16(const PIXEL_YC* pixels, D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch, float* rowBuf);
void YcToF16Simd(const PIXEL_YC* pixels, D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf);

void F32ToYc(PIXEL_YC* pixels, const float* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch);
void F32ToYcSimd(PIXEL_YC* pixels, const float* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch);
void F16ToYc(PIXEL_YC* pixels, const D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch, float* rowBuf);
void F16ToYcSimd(PIXEL_YC* pixels, const D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf);
