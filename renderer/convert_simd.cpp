// The vector conversions. On x86 they use MMX and SSE only, so the 32-bit
// product runs on any processor with SSE; this file alone is built with those
// instruction sets. Each texel is one 16-byte access.
#include "renderer/convert.h"

#if defined(__i386__) || defined(__x86_64__)

#include <xmmintrin.h>

#include <cstddef>
#include <cstring>

namespace {

struct Scales {
    __m128 up = _mm_setr_ps(0.0f, 1.0f / 4096.0f, 1.0f / 4096.0f, 1.0f / 4096.0f);
    __m128 down = _mm_setr_ps(0.0f, 4096.0f, 4096.0f, 4096.0f);
    __m128 lowest = _mm_set1_ps(-32768.0f);
    __m128 highest = _mm_set1_ps(32767.0f);
};

// Sign-extends y, cb and cr to 32 bits beside a zero red lane and scales them.
// Each pixel is read as two overlapping 4-byte loads, never past its end.
inline __m128 TexelFromPixel(const PIXEL_YC* pixel, const Scales& scales) {
    int32_t yCb, cbCr;
    std::memcpy(&yCb, &pixel->y, sizeof yCb);
    std::memcpy(&cbCr, &pixel->cb, sizeof cbCr);
    const __m64 zeroY = _mm_srai_pi32(_mm_slli_si64(_mm_cvtsi32_si64(yCb), 48), 16);
    __m64 cbCrWords = _mm_cvtsi32_si64(cbCr);
    const __m64 cbCrPair = _mm_srai_pi32(_mm_unpacklo_pi16(cbCrWords, cbCrWords), 16);
    const __m128 upper = _mm_cvtpi32_ps(_mm_setzero_ps(), cbCrPair);
    const __m128 lanes = _mm_cvtpi32_ps(_mm_movelh_ps(upper, upper), zeroY);
    return _mm_mul_ps(lanes, scales.up);
}

// The same saturation as the scalar routines: NaN lanes become +0 before the
// clamp, so the conversion to integers never sees a value it cannot hold.
inline void PixelFromTexel(__m128 texel, PIXEL_YC* pixel, const Scales& scales) {
    __m128 product = _mm_mul_ps(texel, scales.down);
    product = _mm_and_ps(product, _mm_cmpord_ps(product, product));
    product = _mm_min_ps(_mm_max_ps(product, scales.lowest), scales.highest);
    const __m64 redY = _mm_cvtps_pi32(product);
    const __m64 cbCr = _mm_cvtps_pi32(_mm_movehl_ps(product, product));
    const __m64 words = _mm_packs_pi32(redY, cbCr);
    const int32_t yCb = _mm_cvtsi64_si32(_mm_srli_si64(words, 16));
    std::memcpy(&pixel->y, &yCb, sizeof yCb);
    pixel->cr = static_cast<int16_t>(_mm_extract_pi16(words, 3));
}

bool IsAligned16(const void* address) {
    return (reinterpret_cast<uintptr_t>(address) & 15u) == 0;
}

}  // namespace

void YcToF32Simd(const PIXEL_YC* pixels, float* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch) {
    const Scales scales;
    // Rows are a whole number of 16-byte texels apart, so the first row decides
    // for all. A driver may still hand out an unaligned pointer.
    const bool aligned = IsAligned16(texels);
    for (int32_t r = 0; r < height; ++r) {
        const PIXEL_YC* source = pixels + static_cast<ptrdiff_t>(r) * pitch;
        float* row = texels + static_cast<ptrdiff_t>(r) * rowTexels * 4;
        if (aligned) {
            for (int32_t i = 0; i < width; ++i)
                _mm_stream_ps(row + 4 * i, TexelFromPixel(source + i, scales));
        } else {
            for (int32_t i = 0; i < width; ++i)
                _mm_storeu_ps(row + 4 * i, TexelFromPixel(source + i, scales));
        }
    }
    // Streaming stores are weakly ordered. The texture is read after the unlock
    // by the runtime or by the device itself, possibly from another thread or
    // by DMA, and nothing obliges the unlock to order these stores; one fence
    // per frame makes them visible before anyone can look.
    _mm_sfence();
    _mm_empty();
}

void YcToF16Simd(const PIXEL_YC* pixels, D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf) {
    const Scales scales;
    for (int32_t r = 0; r < height; ++r) {
        const PIXEL_YC* source = pixels + static_cast<ptrdiff_t>(r) * pitch;
        for (int32_t i = 0; i < width; ++i)
            _mm_store_ps(rowBuf + 4 * i, TexelFromPixel(source + i, scales));
        // The conversion may use x87 code, which shares its registers with MMX.
        _mm_empty();
        D3DXFloat32To16Array(texels + static_cast<ptrdiff_t>(r) * rowTexels * 4, rowBuf,
                             static_cast<UINT>(width) * 4);
    }
    _mm_empty();
}

void F32ToYcSimd(PIXEL_YC* pixels, const float* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch) {
    const Scales scales;
    const bool aligned = IsAligned16(texels);
    for (int32_t r = 0; r < height; ++r) {
        PIXEL_YC* target = pixels + static_cast<ptrdiff_t>(r) * pitch;
        const float* row = texels + static_cast<ptrdiff_t>(r) * rowTexels * 4;
        if (aligned) {
            for (int32_t i = 0; i < width; ++i)
                PixelFromTexel(_mm_load_ps(row + 4 * i), target + i, scales);
        } else {
            for (int32_t i = 0; i < width; ++i)
                PixelFromTexel(_mm_loadu_ps(row + 4 * i), target + i, scales);
        }
    }
    _mm_empty();
}

void F16ToYcSimd(PIXEL_YC* pixels, const D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf) {
    const Scales scales;
    for (int32_t r = 0; r < height; ++r) {
        D3DXFloat16To32Array(rowBuf, texels + static_cast<ptrdiff_t>(r) * rowTexels * 4,
                             static_cast<UINT>(width) * 4);
        PIXEL_YC* target = pixels + static_cast<ptrdiff_t>(r) * pitch;
        for (int32_t i = 0; i < width; ++i)
            PixelFromTexel(_mm_load_ps(rowBuf + 4 * i), target + i, scales);
        _mm_empty();
    }
    _mm_empty();
}

#else  // no x86 vector units

// The vector routines must exist and agree with the scalar ones bit for bit;
// without MMX and SSE the scalar code is that agreement.
void YcToF32Simd(const PIXEL_YC* pixels, float* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch) {
    YcToF32(pixels, texels, rowTexels, width, height, pitch);
}
void YcToF16Simd(const PIXEL_YC* pixels, D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf) {
    YcToF16(pixels, texels, rowTexels, width, height, pitch, rowBuf);
}
void F32ToYcSimd(PIXEL_YC* pixels, const float* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch) {
    F32ToYc(pixels, texels, rowTexels, width, height, pitch);
}
void F16ToYcSimd(PIXEL_YC* pixels, const D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf) {
    F16ToYc(pixels, texels, rowTexels, width, height, pitch, rowBuf);
}

#endif
