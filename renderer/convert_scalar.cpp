// The scalar conversions: the reference the vector routines must match.
#include <cmath>
#include <cstddef>

#include "renderer/convert.h"

namespace {

constexpr float kToTexel = 1.0f / 4096.0f;
constexpr float kToPixel = 4096.0f;

void PixelToTexel(const PIXEL_YC& pixel, float* texel) {
    texel[0] = 0.0f;
    texel[1] = static_cast<float>(pixel.y) * kToTexel;
    texel[2] = static_cast<float>(pixel.cb) * kToTexel;
    texel[3] = static_cast<float>(pixel.cr) * kToTexel;
}

// Wrapping an over-bright 8.0 round to -32768 would turn white into black, so
// out-of-range values saturate; NaN has no nearest value and gives 0.
int16_t ComponentFromTexel(float value) {
    const float product = value * kToPixel;
    if (std::isnan(product)) return 0;
    const float clamped = product < -32768.0f ? -32768.0f : product > 32767.0f ? 32767.0f : product;
    // lrint rounds in the current mode, nearest-even unless someone changed it.
    return static_cast<int16_t>(std::lrint(clamped));
}

void TexelToPixel(const float* texel, PIXEL_YC& pixel) {
    pixel.y = ComponentFromTexel(texel[1]);
    pixel.cb = ComponentFromTexel(texel[2]);
    pixel.cr = ComponentFromTexel(texel[3]);
}

}  // namespace

void YcToF32(const PIXEL_YC* pixels, float* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch) {
    for (int32_t r = 0; r < height; ++r) {
        const PIXEL_YC* source = pixels + static_cast<ptrdiff_t>(r) * pitch;
        float* row = texels + static_cast<ptrdiff_t>(r) * rowTexels * 4;
        for (int32_t i = 0; i < width; ++i) PixelToTexel(source[i], row + 4 * i);
    }
}

void YcToF16(const PIXEL_YC* pixels, D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch, float* rowBuf) {
    for (int32_t r = 0; r < height; ++r) {
        const PIXEL_YC* source = pixels + static_cast<ptrdiff_t>(r) * pitch;
        for (int32_t i = 0; i < width; ++i) PixelToTexel(source[i], rowBuf + 4 * i);
        D3DXFloat32To16Array(texels + static_cast<ptrdiff_t>(r) * rowTexels * 4, rowBuf,
                             static_cast<UINT>(width) * 4);
    }
}

void F32ToYc(PIXEL_YC* pixels, const float* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch) {
    for (int32_t r = 0; r < height; ++r) {
        PIXEL_YC* target = pixels + static_cast<ptrdiff_t>(r) * pitch;
        const float* row = texels + static_cast<ptrdiff_t>(r) * rowTexels * 4;
        for (int32_t i = 0; i < width; ++i) TexelToPixel(row + 4 * i, target[i]);
    }
}

void F16ToYc(PIXEL_YC* pixels, const D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
             int32_t height, int32_t pitch, float* rowBuf) {
    for (int32_t r = 0; r < height; ++r) {
        D3DXFloat16To32Array(rowBuf, texels + static_cast<ptrdiff_t>(r) * rowTexels * 4,
                             static_cast<UINT>(width) * 4);
        PIXEL_YC* target = pixels + static_cast<ptrdiff_t>(r) * pitch;
        for (int32_t i = 0; i < width; ++i) TexelToPixel(rowBuf + 4 * i, target[i]);
    }
}
