// The vector conversions. On x86 they use MMX and SSE only, so the 32-bit
// product runs on any processor with SSE; this file alone is built with those
// instruction sets. Each texel is one 16-byte access; rows go four pixels
// (24 bytes, three 8-byte words) at a time, the last few one by one. On x86-64
// the rows staged in rowBuf take AVX2 where the processor has it.
#include "renderer/convert.h"

#if defined(__i386__) || defined(__x86_64__)

#include <xmmintrin.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __x86_64__
#include <immintrin.h>
#endif

#include <cstddef>
#include <cstring>

namespace {

struct Scales {
    __m128 up = _mm_setr_ps(0.0f, 1.0f / 4096.0f, 1.0f / 4096.0f, 1.0f / 4096.0f);
    __m128 upAll = _mm_set1_ps(1.0f / 4096.0f);
    __m128 down = _mm_set1_ps(4096.0f);
    __m128 lowest = _mm_set1_ps(-32768.0f);
    __m128 highest = _mm_set1_ps(32767.0f);
    __m128 zero = _mm_setzero_ps();
};

// How a routine reaches its texels: streaming into locked single-precision
// rows, aligned on rowBuf, unaligned where a driver's pointer demands it.
enum class Access { kStream, kAligned, kUnaligned };

template <Access kAccess>
inline void Put(float* at, __m128 texel) {
    if constexpr (kAccess == Access::kStream) {
        _mm_stream_ps(at, texel);
    } else if constexpr (kAccess == Access::kAligned) {
        _mm_store_ps(at, texel);
    } else {
        _mm_storeu_ps(at, texel);
    }
}

template <Access kAccess>
inline __m128 Get(const float* at) {
    if constexpr (kAccess == Access::kUnaligned) return _mm_loadu_ps(at);
    return _mm_load_ps(at);
}

// One pixel: y, cb and cr sign-extended to 32 bits beside a zero red lane,
// converted and scaled. Read as two overlapping 4-byte loads, never past its end.
inline __m128 TexelFromPixel(const PIXEL_YC* pixel, const Scales& scales) {
    int32_t yCb, cbCr;
    std::memcpy(&yCb, &pixel->y, sizeof yCb);
    std::memcpy(&cbCr, &pixel->cb, sizeof cbCr);
    const __m64 zeroY = _mm_srai_pi32(_mm_slli_si64(_mm_cvtsi32_si64(yCb), 48), 16);
    const __m64 cbCrWords = _mm_cvtsi32_si64(cbCr);
    const __m64 cbCrPair = _mm_srai_pi32(_mm_unpacklo_pi16(cbCrWords, cbCrWords), 16);
    const __m128 upper = _mm_cvtpi32_ps(_mm_setzero_ps(), cbCrPair);
    const __m128 lanes = _mm_cvtpi32_ps(_mm_movelh_ps(upper, upper), zeroY);
    return _mm_mul_ps(lanes, scales.up);
}

// Four pixels are twelve components: three vectors of four 16-bit values,
// each converted in one go. x86-64 has SSE2 in its baseline and converts in
// whole registers; the 32-bit product goes through MMX halves.
#ifdef __SSE2__
inline __m128 FloatsFromWords(const void* at) {
    const __m128i words = _mm_loadl_epi64(static_cast<const __m128i*>(at));
    return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16));
}
inline void StoreWords(void* at, __m128 values) {
    const __m128i dwords = _mm_cvtps_epi32(values);
    _mm_storel_epi64(static_cast<__m128i*>(at), _mm_packs_epi32(dwords, dwords));
}
#else
inline __m128 FloatsFromWords(const void* at) {
    __m64 words;
    std::memcpy(&words, at, sizeof words);
    return _mm_cvtpi16_ps(words);
}
inline void StoreWords(void* at, __m128 values) {
    const __m64 words = _mm_cvtps_pi16(values);
    std::memcpy(at, &words, sizeof words);
}
#endif

// Converts four pixels and deals the components out into four texels with
// zero red lanes.
template <Access kAccess>
inline void PutTexelsOfFourPixels(const PIXEL_YC* pixels, float* texels, const Scales& scales) {
    const char* bytes = reinterpret_cast<const char*>(pixels);
    const __m128 a = _mm_mul_ps(FloatsFromWords(bytes), scales.upAll);       // y0 cb0 cr0 y1
    const __m128 b = _mm_mul_ps(FloatsFromWords(bytes + 8), scales.upAll);   // cb1 cr1 y2 cb2
    const __m128 c = _mm_mul_ps(FloatsFromWords(bytes + 16), scales.upAll);  // cr2 y3 cb3 cr3
    const __m128 y2Cb2Cr2 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 0, 3, 2));
    Put<kAccess>(texels, _mm_move_ss(_mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 1, 0, 0)), scales.zero));
    Put<kAccess>(texels + 4,
                 _mm_move_ss(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 3, 3)), scales.zero));
    Put<kAccess>(
        texels + 8,
        _mm_move_ss(_mm_shuffle_ps(y2Cb2Cr2, y2Cb2Cr2, _MM_SHUFFLE(2, 1, 0, 0)), scales.zero));
    Put<kAccess>(texels + 12, _mm_move_ss(c, scales.zero));
}

// The read-back products, saturated like the scalar routines: NaN lanes become
// +0 before the clamp, so the conversion to integers never sees a value it
// cannot hold.
inline __m128 ClampedProducts(__m128 components, const Scales& scales) {
    __m128 product = _mm_mul_ps(components, scales.down);
    product = _mm_and_ps(product, _mm_cmpord_ps(product, product));
    return _mm_min_ps(_mm_max_ps(product, scales.lowest), scales.highest);
}

// Four texels without their red lanes are the twelve components of four pixels.
template <Access kAccess>
inline void PutPixelsOfFourTexels(const float* texels, PIXEL_YC* pixels, const Scales& scales) {
    const __m128 t0 = Get<kAccess>(texels), t1 = Get<kAccess>(texels + 4);
    const __m128 t2 = Get<kAccess>(texels + 8), t3 = Get<kAccess>(texels + 12);
    const __m128 cr0Y1 = _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 1, 3, 3));
    const __m128 cr2Y3 = _mm_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 1, 3, 3));
    char* bytes = reinterpret_cast<char*>(pixels);
    StoreWords(bytes, ClampedProducts(_mm_shuffle_ps(t0, cr0Y1, _MM_SHUFFLE(2, 0, 2, 1)), scales));
    StoreWords(bytes + 8, ClampedProducts(_mm_shuffle_ps(t1, t2, _MM_SHUFFLE(2, 1, 3, 2)), scales));
    StoreWords(bytes + 16,
               ClampedProducts(_mm_shuffle_ps(cr2Y3, t3, _MM_SHUFFLE(3, 2, 2, 0)), scales));
}

inline void PixelFromTexel(__m128 texel, PIXEL_YC* pixel, const Scales& scales) {
    const __m64 words = _mm_cvtps_pi16(ClampedProducts(texel, scales));  // red y cb cr
    const int32_t yCb = _mm_cvtsi64_si32(_mm_srli_si64(words, 16));
    std::memcpy(&pixel->y, &yCb, sizeof yCb);
    pixel->cr = static_cast<int16_t>(_mm_extract_pi16(words, 3));
}

template <Access kAccess>
void PixelsToTexels(const PIXEL_YC* pixels, float* texels, int32_t width, const Scales& scales) {
    int32_t i = 0;
    for (; i + 4 <= width; i += 4)
        PutTexelsOfFourPixels<kAccess>(pixels + i, texels + 4 * i, scales);
    for (; i < width; ++i) Put<kAccess>(texels + 4 * i, TexelFromPixel(pixels + i, scales));
}

template <Access kAccess>
void TexelsToPixels(const float* texels, PIXEL_YC* pixels, int32_t width, const Scales& scales) {
    int32_t i = 0;
    for (; i + 4 <= width; i += 4)
        PutPixelsOfFourTexels<kAccess>(texels + 4 * i, pixels + i, scales);
    for (; i < width; ++i) PixelFromTexel(Get<kAccess>(texels + 4 * i), pixels + i, scales);
}

#ifdef __x86_64__

// The half-precision routines stage every row in rowBuf, so on x86-64 the
// shuffles of the SSE code above are what limits them. AVX2, where present,
// moves two pixels per instruction with byte shuffles; the arithmetic is the
// same, so are the results. These return how many pixels they did.

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Two pixels starting at `at`: the shuffle spreads their components into the
// 16-bit lanes 1-3 and 5-7 and zeroes the red lanes 0 and 4.
__attribute__((target("avx2"))) inline void PutTwoTexels(const char* at, __m128i spread,
                                                         float* texels) {
    const __m128i words =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), spread);
    const __m256 lanes = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(words)),
                                       _mm256_set1_ps(1.0f / 4096.0f));
    _mm_store_ps(texels, _mm256_castps256_ps128(lanes));
    _mm_store_ps(texels + 4, _mm256_extractf128_ps(lanes, 1));
}

// Eight pixels are 48 bytes; the last pair is loaded from byte 32 so no load
// reaches past them.
__attribute__((target("avx2"))) int32_t PixelsToRowBufAvx2(const PIXEL_YC* pixels,
                                                           float* texels, int32_t width) {
    const __m128i fromByte0 = _mm_setr_epi8(-1, -1, 0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11);
    const __m128i fromByte4 =
        _mm_setr_epi8(-1, -1, 4, 5, 6, 7, 8, 9, -1, -1, 10, 11, 12, 13, 14, 15);
    int32_t i = 0;
    for (; i + 8 <= width; i += 8) {
        const char* bytes = reinterpret_cast<const char*>(pixels + i);
        float* row = texels + 4 * i;
        PutTwoTexels(bytes, fromByte0, row);
        PutTwoTexels(bytes + 12, fromByte0, row + 8);
        PutTwoTexels(bytes + 24, fromByte0, row + 16);
        PutTwoTexels(bytes + 32, fromByte4, row + 24);
    }
    return i;
}

// Four texels from rowBuf, saturated like ClampedProducts, as 64-bit groups
// (red y cb cr) in pixel order.
__attribute__((target("avx2"))) inline __m256i WordsOfFourTexels(const float* texels) {
    const __m256 down = _mm256_set1_ps(4096.0f);
    const __m256 lowest = _mm256_set1_ps(-32768.0f), highest = _mm256_set1_ps(32767.0f);
    __m256i dwords[2];
    for (int half = 0; half < 2; ++half) {
        __m256 product = _mm256_mul_ps(_mm256_loadu_ps(texels + 8 * half), down);
        product = _mm256_and_ps(product, _mm256_cmp_ps(product, product, _CMP_ORD_Q));
        dwords[half] = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(product, lowest), highest));
    }
    // The pack interleaves the 128-bit lanes: texels 0 2 1 3 before the permute.
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(dwords[0], dwords[1]),
                                    _MM_SHUFFLE(3, 1, 2, 0));
}

// Eight pixels are 48 bytes, three aligned 16-byte blocks: byte shifts join
// the pairs of pixels that the shuffle leaves in 12 bytes of each lane, and
// the blocks are streamed, so the host's rows are written without being read
// in first (narrower stores pull every line into the cache before changing
// it). Starts at `first`, where the pixels start on 16 bytes; returns where
// it stopped.
__attribute__((target("avx2"))) int32_t RowBufToPixelsAvx2(const float* texels,
                                                           PIXEL_YC* pixels, int32_t first,
                                                           int32_t width) {
    const __m256i drop = _mm256_setr_epi8(2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1,
                                          2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1);
    int32_t i = first;
    for (; i + 8 <= width; i += 8) {
        const __m256i low = _mm256_shuffle_epi8(WordsOfFourTexels(texels + 4 * i), drop);
        const __m256i high = _mm256_shuffle_epi8(WordsOfFourTexels(texels + 4 * (i + 4)), drop);
        const __m128i a = _mm256_castsi256_si128(low), b = _mm256_extracti128_si256(low, 1);
        const __m128i c = _mm256_castsi256_si128(high), d = _mm256_extracti128_si256(high, 1);
        auto* at = reinterpret_cast<__m128i*>(pixels + i);
        _mm_stream_si128(at, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_stream_si128(at + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_stream_si128(at + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    return i;
}

// Pixels before the first that starts on 16 bytes (every eighth one does,
// as pixels are 6 bytes on an even address); -1 on an odd address.
int32_t PixelsBeforeAlignment(const PIXEL_YC* pixels) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(pixels);
    for (int32_t k = 0; k < 8; ++k) {
        if ((address + 6 * uintptr_t(k)) % 16 == 0) return k;
    }
    return -1;
}

#endif

bool IsAligned16(const void* address) { return (reinterpret_cast<uintptr_t>(address) & 15u) == 0; }

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
            PixelsToTexels<Access::kStream>(source, row, width, scales);
        } else {
            PixelsToTexels<Access::kUnaligned>(source, row, width, scales);
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
#ifdef __x86_64__
    const bool avx2 = HasAvx2();
#endif
    for (int32_t r = 0; r < height; ++r) {
        const PIXEL_YC* source = pixels + static_cast<ptrdiff_t>(r) * pitch;
        int32_t done = 0;
#ifdef __x86_64__
        if (avx2) done = PixelsToRowBufAvx2(source, rowBuf, width);
#endif
        PixelsToTexels<Access::kAligned>(source + done, rowBuf + 4 * done, width - done, scales);
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
            TexelsToPixels<Access::kAligned>(row, target, width, scales);
        } else {
            TexelsToPixels<Access::kUnaligned>(row, target, width, scales);
        }
    }
    _mm_empty();
}

void F16ToYcSimd(PIXEL_YC* pixels, const D3DXFLOAT16* texels, int32_t rowTexels, int32_t width,
                 int32_t height, int32_t pitch, float* rowBuf) {
    const Scales scales;
#ifdef __x86_64__
    const bool avx2 = HasAvx2();
#endif
    for (int32_t r = 0; r < height; ++r) {
        D3DXFloat16To32Array(rowBuf, texels + static_cast<ptrdiff_t>(r) * rowTexels * 4,
                             static_cast<UINT>(width) * 4);
        PIXEL_YC* target = pixels + static_cast<ptrdiff_t>(r) * pitch;
        int32_t done = 0;
#ifdef __x86_64__
        const int32_t lead = avx2 ? PixelsBeforeAlignment(target) : -1;
        if (lead >= 0 && lead + 8 <= width) {
            TexelsToPixels<Access::kAligned>(rowBuf, target, lead, scales);
            done = RowBufToPixelsAvx2(rowBuf, target, lead, width);
        }
#endif
        TexelsToPixels<Access::kAligned>(rowBuf + 4 * done, target + done, width - done, scales);
        _mm_empty();
    }
    // The streamed rows are weakly ordered: one fence before the caller, or
    // another thread it hands the frame to, reads them.
    _mm_sfence();
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
