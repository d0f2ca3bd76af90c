// The built-in test chart, drawn directly on the YC scale so that it can
// hold values outside the nominal range.
#pragma once

#include "host/picture/picture.h"

constexpr int kChartWidth = 1920;
constexpr int kChartHeight = 1080;

// Bands from top to bottom: colour bars at 100% (white, yellow, cyan, green,
// magenta, red, blue, black); a grey ramp from Y 0 to 4096; red, green and
// blue ramps from black to full; Cb and Cr ramps from -2048 to 2048 at mid
// grey; patches: sub-black, black, mid grey, white, super-white.
void DrawTestChart(YcFrame& frame);

// Patch values, so that users of the chart can find known pixels.
constexpr PIXEL_YC kChartSubBlack{-224, 0, 0};    // 8-bit code 4
constexpr PIXEL_YC kChartSuperWhite{4451, 0, 0};  // 8-bit code 254
