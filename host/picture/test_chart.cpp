#include "host/picture/test_chart.h"

#include <cmath>

#include "host/picture/yc_convert.h"

namespace {

enum class Band { kBars, kGreyRamp, kRgbRamps, kChromaRamps, kPatches };

// Where each band starts and ends, as shares of the height.
constexpr double kBandEdges[] = {0, 0.35, 0.47, 0.68, 0.82, 1};

PIXEL_YC Bar(int x, int width) {
    // R, G, B of each bar, left to right.
    static const double kBars[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                                       {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
    const double* rgb = kBars[x * 8 / width];
    return YcFromRgb(rgb[0], rgb[1], rgb[2]);
}

PIXEL_YC Patch(int x, int width) {
    static const PIXEL_YC kPatches[5] = {kChartSubBlack, {0, 0, 0}, {2048, 0, 0}, {4096, 0, 0}, kChartSuperWhite};
    return kPatches[x * 5 / width];
}

}  // namespace

void DrawTestChart(YcFrame& frame) {
    const int w = frame.width, h = frame.height;
    for (int b = 0; b < 5; ++b) {
        const Band band = Band(b);
        const int bandStart = int(std::lround(kBandEdges[b] * h)), bandEnd = int(std::lround(kBandEdges[b + 1] * h));
        for (int y = bandStart; y < bandEnd; ++y) {
            // Bands made of stripes (three colours, two chroma axes) share
            // their rows evenly between them.
            const double inBand = double(y - bandStart) / (bandEnd - bandStart);
            PIXEL_YC* row = frame.Row(y);
            for (int x = 0; x < w; ++x) {
                const double ramp = w > 1 ? double(x) / (w - 1) : 0.0;
                switch (band) {
                case Band::kBars: row[x] = Bar(x, w); break;
                case Band::kGreyRamp: row[x] = PIXEL_YC{int16_t(std::lround(ramp * 4096)), 0, 0}; break;
                case Band::kRgbRamps: {
                    const int channel = int(inBand * 3);
                    row[x] = YcFromRgb(channel == 0 ? ramp : 0, channel == 1 ? ramp : 0, channel == 2 ? ramp : 0);
                    break;
                }
                case Band::kChromaRamps: {
                    const int16_t chroma = int16_t(std::lround(ramp * 4096 - 2048));
                    row[x] = inBand < 0.5 ? PIXEL_YC{2048, chroma, 0} : PIXEL_YC{2048, 0, chroma};
                    break;
                }
                case Band::kPatches: row[x] = Patch(x, w); break;
                }
            }
        }
    }
}
