// The scopes drawn as a picture: one row of four panels (waveform, R'G'B'
// parade, vectorscope, histograms) a frame, with their scales. The preview
// sends these rows to the page, which cuts them into its canvases; --scopes
// writes them as a PNG.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/files/output_file.h"
#include "host/picture/picture.h"
#include "host/scopes/scopes.h"

struct ScopePanel {
    int x, width;
};
constexpr int kScopeRowHeight = 292;
// Left to right: waveform, parade, vectorscope, histograms.
std::array<ScopePanel, 4> ScopePanels();
// "x width" of each panel, comma-separated, for the page.
std::string ScopePanelList();

// Where the scales sit in a row, for tests of what is drawn.
int ScopeLevelRow(int level);            // the waveform's and parade's row of a level
int ScopeVectorColumn(int cb);           // the vectorscope's column of Cb
int ScopeVectorRow(int cr);              // and its row of Cr

struct ScopeRow {
    std::string title;  // "BEFORE", "AFTER"; may be empty
    const ScopeCounts* counts;
};
// Rows stacked from top to bottom, as an 8-bit R'G'B' picture.
Picture DrawScopes(const std::vector<ScopeRow>& rows);

// The scopes of the frame before and after the filter, as one PNG.
void WriteScopes(OutputFile& file, const YcFrame& before, const YcFrame& after);
