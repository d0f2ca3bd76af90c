#include "platform/d3dx9/float16.h"

#include <bit>

#include "platform/d3dx9_api.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define KELO_HAVE_F16C 1
#endif

uint16_t HalfFromFloat(float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
    const uint32_t magnitude = bits & 0x7FFFFFFFu;
    if (magnitude > 0x7F800000u) {
        return static_cast<uint16_t>(sign | 0x7E00u | ((magnitude >> 13) & 0x1FFu));
    }
    if (magnitude >= 0x477FF000u) return static_cast<uint16_t>(sign | 0x7C00u);
    if (magnitude >= 0x38800000u) {
        // Adding just under half a half-ulp, plus the kept bit, rounds to
        // nearest even; a carry out of the mantissa bumps the exponent.
        const uint32_t rounded = magnitude + 0xFFFu + ((magnitude >> 13) & 1u);
        return static_cast<uint16_t>(sign | ((rounded - 0x38000000u) >> 13));
    }
    // 2^-25 itself is a tie between zero and the smallest subnormal.
    if (magnitude <= 0x33000000u) return sign;
    const uint32_t mantissa = (magnitude & 0x7FFFFFu) | 0x800000u;
    const uint32_t shift = 126u - (magnitude >> 23);
    uint32_t units = mantissa >> shift;  // multiples of 2^-24
    const uint32_t rest = mantissa & ((1u << shift) - 1u);
    const uint32_t halfway = 1u << (shift - 1u);
    if (rest > halfway || (rest == halfway && (units & 1u) != 0)) ++units;
    return static_cast<uint16_t>(sign | units);
}

float FloatFromHalf(uint16_t half) {
    const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1Fu;
    const uint32_t mantissa = half & 0x3FFu;
    uint32_t bits;
    if (exponent == 0x1F) {
        bits = sign | 0x7F800000u | (mantissa << 13) | (mantissa != 0 ? 0x400000u : 0u);
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        bits = sign;
    } else {
        const uint32_t top = 31u - static_cast<uint32_t>(std::countl_zero(mantissa));
        bits = sign | ((top + 103u) << 23) | ((mantissa << (23u - top)) & 0x7FFFFFu);
    }
    return std::bit_cast<float>(bits);
}

void Float32To16Portable(uint16_t* out, const float* in, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = HalfFromFloat(in[i]);
}

void Float16To32Portable(float* out, const uint16_t* in, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = FloatFromHalf(in[i]);
}

#ifdef KELO_HAVE_F16C

bool CpuHasF16c() {
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const unsigned needed = bit_OSXSAVE | bit_AVX | bit_F16C;
    if ((ecx & needed) != needed) return false;
    // The operating system must save the XMM and YMM registers.
    uint32_t xcr0Low, xcr0High;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    return (xcr0Low & 6u) == 6u;
}

// Long arrays of halves are texture rows written through a lock: nobody reads
// them back soon, so streaming them past the cache saves reading every line in
// first. Short ones are as likely to be read at once and stay cached.
namespace {

constexpr size_t kStreamFrom = 1024;

template <bool kStream>
__attribute__((target("f16c,avx"))) size_t HalvesOfWholeSteps(uint16_t* out, const float* in,
                                                              size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i halves = _mm256_cvtps_ph(_mm256_loadu_ps(in + i), _MM_FROUND_TO_NEAREST_INT);
        auto* at = reinterpret_cast<__m128i*>(out + i);
        if constexpr (kStream) {
            _mm_stream_si128(at, halves);
        } else {
            _mm_storeu_si128(at, halves);
        }
    }
    return i;
}

}  // namespace

__attribute__((target("f16c,avx"))) void Float32To16F16c(uint16_t* out, const float* in,
                                                         size_t count) {
    size_t i;
    if (count >= kStreamFrom && (reinterpret_cast<uintptr_t>(out) & 15u) == 0) {
        i = HalvesOfWholeSteps<true>(out, in, count);
        // Streaming stores are weakly ordered; the caller may hand the array to
        // another thread or a device right after the return.
        _mm_sfence();
    } else {
        i = HalvesOfWholeSteps<false>(out, in, count);
    }
    Float32To16Portable(out + i, in + i, count - i);
}

__attribute__((target("f16c,avx"))) void Float16To32F16c(float* out, const uint16_t* in,
                                                         size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i halves = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm256_storeu_ps(out + i, _mm256_cvtph_ps(halves));
    }
    Float16To32Portable(out + i, in + i, count - i);
}

#else  // no x86: the portable path is the only one

bool CpuHasF16c() { return false; }
void Float32To16F16c(uint16_t* out, const float* in, size_t count) {
    Float32To16Portable(out, in, count);
}
void Float16To32F16c(float* out, const uint16_t* in, size_t count) {
    Float16To32Portable(out, in, count);
}

#endif

namespace {

bool UseF16c() {
    static const bool available = CpuHasF16c();
    return available;
}

}  // namespace

D3DXFLOAT16* D3DXFloat32To16Array(D3DXFLOAT16* pOut, const FLOAT* pIn, UINT n) {
    uint16_t* out = &pOut->value;
    (UseF16c() ? Float32To16F16c : Float32To16Portable)(out, pIn, n);
    return pOut;
}

FLOAT* D3DXFloat16To32Array(FLOAT* pOut, const D3DXFLOAT16* pIn, UINT n) {
    const uint16_t* in = &pIn->value;
    (UseF16c() ? Float16To32F16c : Float16To32Portable)(pOut, in, n);
    return pOut;
}
