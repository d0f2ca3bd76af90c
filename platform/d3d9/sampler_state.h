// How a pixel shader's sampler reads its texture, in Direct3D 9's terms.
#pragma once

#include <cstdint>

enum class SamplerFilter { Point, Linear };
enum class SamplerAddress { Wrap, Mirror, Clamp, Border, MirrorOnce };

struct SamplerBinding {
    uint32_t binding = 0;
    SamplerFilter minFilter = SamplerFilter::Point;
    SamplerFilter magFilter = SamplerFilter::Point;
    SamplerAddress addressU = SamplerAddress::Wrap;
    SamplerAddress addressV = SamplerAddress::Wrap;
};
