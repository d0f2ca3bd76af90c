// The filter's correction as a 3D LUT in the Adobe/IRIDAS .cube format, for
// tools that cannot run the plug-in.
#pragma once

#include <string>

#include "host/files/file_plan.h"
#include "host/filter/filter_plugin.h"

// Sends a size^3 lattice of R'G'B' colours through the running filter, with
// kelo-host's own picture conversions on both sides, and writes what came
// back as .cube text. False when FilterProc fails.
bool MakeCubeLut(RunningFilter& filter, const FilterDescription& description, int size, std::string& text);

// kelo-host --cube: the LUT of `size` points an axis, made with the plug-in's
// folder as the current folder, written to `cube`. Returns the exit status.
int WriteCube(const PlannedFile& cube, int size, const PluginLibrary& library, const FilterDescription& description,
              const FilterSettings& settings, const std::string& pluginFolder);
