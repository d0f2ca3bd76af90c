// kelo-host --probe: one pass of a plug-in through start-up, one frame and
// shut-down, recorded line by line for the checks of the Windows build. The
// frame is padded (max_w > w) and filled with a known pattern, so that every
// byte the plug-in writes, inside the picture or beyond it, shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/picture/picture.h"

// The probe's frame: small, odd-sized and padded by default.
constexpr int kProbeWidth = 37, kProbeHeight = 19, kProbeRowLength = 41;

// A frame for the probe: every pixel and every padding pixel distinct; Y from 0
// to 1535 and Cb, Cr from -1024 to 1023, so that half floats hold every value
// exactly and a Y offset up to 512 stays exact as well.
YcFrame ProbeFrame(int width, int height, int pitch);

// How the frame after FilterProc differs from the frame before it.
struct FrameChanges {
    struct Delta {
        int y, cb, cr;
        int pixels;  // pixels of the picture moved by exactly this much
    };
    int pixelsChanged = 0;    // pixels of the picture with any change
    int paddingChanged = 0;   // bytes of the padding with any change
    std::vector<Delta> deltas;  // each distinct change, most frequent first
};
FrameChanges CompareFrames(const YcFrame& before, const YcFrame& after);

// One field of a record line: UTF-8 kept, "\\", "\n", "\t" and other control
// characters escaped, so that each item stays on one line.
std::string EscapeField(const std::string& text);

// The record's lines for the frame: "proc", then one "change" line per delta.
std::string FormatProcRecord(bool result, const FrameChanges& changes);

class PluginLibrary;
struct FilterSettings;

#ifdef _WIN32
// FilterInit; one FilterProc on the probe frame in rows of pitch pixels;
// FilterExit twice; and the plug-in's reports after each step. Returns the
// record; throws PluginError when the reports cannot be read.
std::string RunProbe(const PluginLibrary& library, const FilterSettings& settings, int pitch);
#endif

// kelo-host --probe: RunProbe's record on standard output, in the current
// folder, with rows of `maxWidth` pixels (0: the probe's padded row). Only
// the Windows build reads the reports; the command line refuses it elsewhere.
void Probe(const PluginLibrary& library, const FilterSettings& settings, int maxWidth);
