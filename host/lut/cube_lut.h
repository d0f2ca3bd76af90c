// The filter's correction as a 3D LUT in the Adobe/IRIDAS .cube format, for
// tools that cannot run the plug-in.
#pragma once

#include <string>

#include "host/filter/filter_plugin.h"

constexpr int kDefaultCubeSize = 33;
constexpr int kMaxCubeSize = 65;

// Sends a size^3 lattice of R'G'B' colours through the running filter, with
// kelo-host's own picture conversions on both sides, and writes what came
// back as .cube text. False when FilterProc fails.
bool MakeCubeLut(RunningFilter& filter, const FilterDescription& description, int size, std::string& text);
