// kelo-host's main mode: every frame of the input through the plug-in, into
// the output, with the comparison picture on request.
#pragma once

#include "host/command_line/options.h"
#include "host/files/file_plan.h"
#include "host/filter/filter_plugin.h"
#include "host/frame_loop/stage_times.h"

// Runs the frames with the plug-in's folder as the current folder; returns
// the exit status. `started` is when kelo-host started, for --stats.
int RunFrames(const Options& options, const FilePlan& plan, const PluginLibrary& library,
              const FilterDescription& description, const FilterSettings& settings, Clock::time_point started);
