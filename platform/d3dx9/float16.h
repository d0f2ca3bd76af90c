// IEEE 754 binary16 conversions behind D3DXFloat32To16Array and
// D3DXFloat16To32Array. Two paths give bit-identical results: portable code,
// and the F16C instructions where the processor and the operating system
// support them. Both are exposed so tests and benchmarks can hold them
// against each other.
#pragma once

#include <cstddef>
#include <cstdint>

// Round to nearest, ties to even; values from 65520 up become infinity;
// subnormal halves are produced exactly. A NaN stays a NaN: it is quieted and
// keeps the top nine bits of its payload, as the F16C instructions do.
uint16_t HalfFromFloat(float value);
// Exact for every half; a signalling NaN comes back quieted.
float FloatFromHalf(uint16_t half);

void Float32To16Portable(uint16_t* out, const float* in, size_t count);
void Float16To32Portable(float* out, const uint16_t* in, size_t count);

// True when the F16C paths below may run (CPUID and XGETBV agree).
bool CpuHasF16c();
void Float32To16F16c(uint16_t* out, const float* in, size_t count);
void Float16To32F16c(float* out, const uint16_t* in, size_t count);
