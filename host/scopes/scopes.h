// Scopes of a frame, counted on the editor's YC scale itself: super-whites,
// sub-blacks and chroma beyond +-2048 are what the track bars push around,
// and an 8-bit picture would have clipped them away before counting.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "host/picture/picture.h"

// The levels shown by the waveform, the parade and the histograms: black
// (0) and white (4096) with room beyond both.
constexpr int kScopeLow = -512, kScopeHigh = 4608;
constexpr int kScopeLevels = 256;  // 20 units each
// Slot 0 counts everything below kScopeLow, slot kScopeLevels + 1
// everything from kScopeHigh up: piled on the edges, never dropped.
constexpr int kScopeSlots = kScopeLevels + 2;
constexpr int kWaveformColumns = 384;
constexpr int kParadeColumns = 128;  // for each of R', G', B'
// The vectorscope's square spans Cb and Cr of +-kVectorRange; beyond it a
// value is counted on the square's edge.
constexpr int kVectorRange = 2560;
constexpr int kVectorSide = 256;

// The slot of a level (0: below the range, kScopeSlots - 1: above it).
int LevelSlot(int level);
// The vectorscope bin of Cb or Cr, 0 .. kVectorSide - 1.
int VectorBin(int chroma);

struct ScopeCounts {
    int width = 0, height = 0;  // of the frame counted
    // [column * kScopeSlots + slot]; a column covers an equal share of the
    // frame's width.
    std::vector<uint32_t> waveform;
    std::array<std::vector<uint32_t>, 3> parade;  // R', G', B'
    // [VectorBin(Cr) * kVectorSide + VectorBin(Cb)]
    std::vector<uint32_t> vectorscope;
    // Y, R', G', B' by slot.
    std::array<std::vector<uint64_t>, 4> histogram;
};

ScopeCounts CountScopes(const YcFrame& frame);

// R', G', B' on the YC scale (4096 = 1) from kelo-host's own BT.601
// conversion, unclipped.
std::array<int, 3> ScopeRgb(const PIXEL_YC& yc);

// Where colour bars at `level` (0.75 or 1 of full R'G'B') sit, in the
// order red, magenta, blue, cyan, green, yellow.
std::array<PIXEL_YC, 6> BarTargets(double level);
