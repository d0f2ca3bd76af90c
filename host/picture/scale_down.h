// A smaller copy of a frame, for pictures that are looked at, not kept: the
// preview's while a track bar is being dragged.
#pragma once

#include "host/picture/picture.h"

// The frame reduced to `width` pixels across (1 .. the frame's width), the
// height in proportion, each pixel the mean of the source pixels it covers;
// rows of `width + rowPadding` pixels.
void ScaleDown(const YcFrame& source, int width, int rowPadding, YcFrame& reduced);
