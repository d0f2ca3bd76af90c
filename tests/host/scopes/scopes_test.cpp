// The scopes against frames whose answer is known: where each value lands
// in the counts, and that the drawing shows it at its place on the scale.
#include <gtest/gtest.h>

#include <functional>

#include "host/picture/test_chart.h"
#include "host/picture/yc_convert.h"
#include "host/scopes/scope_drawing.h"
#include "host/scopes/scopes.h"

namespace {

YcFrame FrameOf(int width, int height, const std::function<PIXEL_YC(int x, int y)>& pixel) {
    YcFrame frame;
    frame.Resize(width, height, width + 7);  // rows longer than the picture, as the plug-in gets them
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) frame.Row(y)[x] = pixel(x, y);
    // The padding must not be counted.
    for (int y = 0; y < height; ++y)
        for (int x = width; x < frame.pitch; ++x) frame.Row(y)[x] = PIXEL_YC{-3000, 2500, 2500};
    return frame;
}

uint32_t Waveform(const ScopeCounts& counts, int column, int slot) {
    return counts.waveform[size_t(column) * kScopeSlots + size_t(slot)];
}

// The drawn row's pixel, as 0xRRGGBB.
uint32_t At(const Picture& picture, int x, int y) {
    const uint8_t* p = &picture.samples8[(size_t(y) * size_t(picture.width) + size_t(x)) * 3];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

int WaveformX(int column) { return ScopePanels()[0].x + 34 + column; }

TEST(Scopes, ARampGivesADiagonalWaveformAndAFlatHistogram) {
    // Two pixels a column, rising 10 levels a column from -200: the ramp
    // crosses black, white and both ends of the shown range.
    const YcFrame ramp = FrameOf(2 * kWaveformColumns, 5, [](int x, int) { return PIXEL_YC{int16_t(x / 2 * 16 - 600), 0, 0}; });
    const ScopeCounts counts = CountScopes(ramp);
    int previous = -1;
    for (int column = 0; column < kWaveformColumns; ++column) {
        const int expected = LevelSlot(column * 16 - 600);
        ASSERT_EQ(Waveform(counts, column, expected), 10u) << column;
        EXPECT_GE(expected, previous) << "the trace must rise left to right";
        previous = expected;
    }
    EXPECT_EQ(previous, kScopeSlots - 1);
    // Grey: R' = G' = B' = Y, so the parade shows three copies.
    for (int c = 0; c < 3; ++c) EXPECT_EQ(counts.histogram[size_t(c) + 1], counts.histogram[0]);
    uint64_t total = 0;
    for (uint64_t n : counts.histogram[0]) total += n;
    EXPECT_EQ(total, uint64_t(ramp.width) * uint64_t(ramp.height));

    const Picture drawn = DrawScopes({{"", &counts}});
    EXPECT_EQ(drawn.width, ScopePanels()[3].x + ScopePanels()[3].width);
    EXPECT_EQ(drawn.height, kScopeRowHeight);
    for (int column : {40, 200, 300}) {
        const uint32_t lit = At(drawn, WaveformX(column), ScopeLevelRow(column * 16 - 600));
        EXPECT_GT(lit & 0xff00, 0x8000u) << "column " << column << " is not lit where its level is";
        EXPECT_LT(At(drawn, WaveformX(column), ScopeLevelRow(column * 16 - 600 + 400)) & 0xff00, 0x8000u);
    }
}

TEST(Scopes, SuperWhitesShowAboveTheWhiteLineAndValuesBeyondTheRangeOnItsMarkedEdges) {
    // Left to right: white, super-white (Y 4300, beyond the nominal range
    // but inside the shown one), and far beyond the range on both sides.
    const int16_t levels[4] = {4096, 4300, 6000, -2000};
    const YcFrame frame = FrameOf(4 * kWaveformColumns, 3, [&](int x, int) {
        return PIXEL_YC{levels[x / kWaveformColumns], 0, 0};
    });
    const ScopeCounts counts = CountScopes(frame);
    const int quarter = kWaveformColumns / 4;
    EXPECT_GT(LevelSlot(4300), LevelSlot(4096));
    EXPECT_LT(LevelSlot(4300), kScopeSlots - 1);
    EXPECT_EQ(Waveform(counts, quarter + 1, LevelSlot(4300)), 12u);
    EXPECT_EQ(Waveform(counts, 2 * quarter + 1, kScopeSlots - 1), 12u);
    EXPECT_EQ(Waveform(counts, 3 * quarter + 1, 0), 12u);
    EXPECT_EQ(counts.histogram[0][kScopeSlots - 1], uint64_t(kWaveformColumns) * 3);
    EXPECT_EQ(counts.histogram[0][0], uint64_t(kWaveformColumns) * 3);

    const Picture drawn = DrawScopes({{"", &counts}});
    const int whiteRow = ScopeLevelRow(4096), superRow = ScopeLevelRow(4300);
    EXPECT_LT(superRow, whiteRow) << "a super-white is drawn above the 4096 line";
    EXPECT_GT(At(drawn, WaveformX(quarter + 5), superRow) & 0xff00, 0x8000u);
    // The edges are marked in their own colour, where the overflow is and
    // nowhere else.
    const uint32_t warning = At(drawn, WaveformX(2 * quarter + 5), ScopeLevelRow(6000));
    EXPECT_EQ(warning, At(drawn, WaveformX(3 * quarter + 5), ScopeLevelRow(-2000)));
    EXPECT_GT(warning >> 16, (warning >> 8 & 0xff) + 64) << std::hex << warning;
    EXPECT_NE(At(drawn, WaveformX(quarter + 5), ScopeLevelRow(6000)), warning);
    EXPECT_NE(At(drawn, WaveformX(2 * quarter + 5), ScopeLevelRow(-2000)), warning);
}

TEST(Scopes, TheChartsColourBarsLandOnTheVectorscopeTargets) {
    YcFrame chart;
    chart.Resize(kChartWidth, kChartHeight, kChartWidth + 64);
    DrawTestChart(chart);
    const ScopeCounts counts = CountScopes(chart);
    const auto at = [&](const PIXEL_YC& c) { return counts.vectorscope[size_t(VectorBin(c.cr)) * kVectorSide + size_t(VectorBin(c.cb))]; };
    // The chart's bars are at 100%; each bar is an eighth of the width over
    // 35% of the height.
    const uint32_t bar = uint32_t(kChartWidth / 8) * uint32_t(kChartHeight * 35 / 100);
    for (const PIXEL_YC& target : BarTargets(1)) EXPECT_GE(at(target), bar) << target.cb << "," << target.cr;
    // Bars at 75% land on the 75% targets, on the same lines from the centre.
    const std::array<PIXEL_YC, 6> targets75 = BarTargets(0.75), targets100 = BarTargets(1);
    const YcFrame bars75 = FrameOf(60, 2, [&](int x, int) { return targets75[size_t(x / 10)]; });
    const ScopeCounts counts75 = CountScopes(bars75);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(counts75.vectorscope[size_t(VectorBin(targets75[i].cr)) * kVectorSide + size_t(VectorBin(targets75[i].cb))], 20u);
        EXPECT_NEAR(targets75[i].cb * 4.0 / 3, targets100[i].cb, 2);
        EXPECT_NEAR(targets75[i].cr * 4.0 / 3, targets100[i].cr, 2);
    }
    // Red sits up and a little left, as on every vectorscope.
    EXPECT_LT(targets100[0].cb, 0);
    EXPECT_GT(targets100[0].cr, 2000);
    // Chroma beyond the square piles on its edge.
    const YcFrame beyond = FrameOf(1, 1, [](int, int) { return PIXEL_YC{2048, 3000, -3000}; });
    EXPECT_EQ(CountScopes(beyond).vectorscope[size_t(0) * kVectorSide + kVectorSide - 1], 1u);
    // A flat frame puts more pixels in one bin than a 16-bit counter holds.
    const YcFrame flat = FrameOf(2000, 40, [](int, int) { return PIXEL_YC{1000, 300, -200}; });
    EXPECT_EQ(CountScopes(flat).vectorscope[size_t(VectorBin(-200)) * kVectorSide + size_t(VectorBin(300))], 80000u);
}

TEST(Scopes, TheParadeUsesTheHostsOwnConversion) {
    for (int y : {-300, 0, 1500, 4096, 4500})
        for (int cb : {-2400, -2048, -700, 0, 900, 2048})
            for (int cr : {-2048, -1, 0, 1000, 2300}) {
                double rgb[3];
                const PIXEL_YC yc{int16_t(y), int16_t(cb), int16_t(cr)};
                RgbFromYc(yc, rgb);
                const std::array<int, 3> scope = ScopeRgb(yc);
                for (int c = 0; c < 3; ++c) EXPECT_NEAR(scope[size_t(c)], rgb[c] * 4096, 1.0) << y << "," << cb << "," << cr;
            }
}

}  // namespace
