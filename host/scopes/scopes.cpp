#include "host/scopes/scopes.h"

#include <algorithm>
#include <cmath>

#include "host/picture/yc_convert.h"

namespace {

constexpr int kLevelUnits = (kScopeHigh - kScopeLow) / kScopeLevels;  // 20
static_assert(kLevelUnits * kScopeLevels == kScopeHigh - kScopeLow);
static_assert(2 * kVectorRange / kVectorSide == kLevelUnits);
// x / 20 for 0 <= x < 16384 by a multiply and a shift: exact there, since
// the product's error stays below 1/20 and x / 20 is never closer than that
// below a whole number.
constexpr int kDivideBy20 = 3277;

// The conversion's weights in 14-bit fixed point, taken from kelo-host's own
// conversion so that the parade shows the R'G'B' the output is made of.
struct RgbWeights {
    int redFromCr, greenFromCb, greenFromCr, blueFromCb;
};

RgbWeights Weights() {
    double fromCb[3], fromCr[3];
    RgbFromYc(PIXEL_YC{0, 4096, 0}, fromCb);
    RgbFromYc(PIXEL_YC{0, 0, 4096}, fromCr);
    const auto fixed = [](double weight) { return int(std::lround(weight * (1 << 14))); };
    return RgbWeights{fixed(fromCr[0]), fixed(fromCb[1]), fixed(fromCr[1]), fixed(fromCb[2])};
}

const RgbWeights kWeights = Weights();

// Without branches, so that a row's slots are computed as vectors: below
// the range clamps to 0, the range itself to 1 .. 256, above it to 257.
inline int Slot(int level) { return (std::clamp(level - kScopeLow + kLevelUnits, 0, kScopeHigh - kScopeLow + kLevelUnits) * kDivideBy20) >> 16; }

inline int Bin(int chroma) { return (std::clamp(chroma + kVectorRange, 0, 2 * kVectorRange - 1) * kDivideBy20) >> 16; }

// Columns of a share of the width each, by pixel.
std::vector<uint16_t> ColumnsOf(int width, int columns) {
    std::vector<uint16_t> column(size_t(std::max(width, 0)));
    for (int x = 0; x < width; ++x) column[size_t(x)] = uint16_t(int64_t(x) * columns / width);
    return column;
}

// Where each pixel of a row is counted. The samples come one plane each and
// nothing aliases, so that the compiler can work on vectors of pixels.
void RowPlaces(int width, const int32_t* __restrict luma, const int32_t* __restrict cb,
               const int32_t* __restrict cr, const uint16_t* __restrict waveColumn,
               const uint16_t* __restrict paradeColumn, int32_t* __restrict waveAt, int32_t* __restrict redAt,
               int32_t* __restrict greenAt, int32_t* __restrict blueAt, int32_t* __restrict vectorAt) {
    const RgbWeights w = kWeights;
    for (int x = 0; x < width; ++x) {
        const int y = luma[x], b = cb[x], r = cr[x];
        const int column = paradeColumn[x] * kScopeSlots;
        waveAt[x] = waveColumn[x] * kScopeSlots + Slot(y);
        redAt[x] = column + Slot(y + ((r * w.redFromCr + (1 << 13)) >> 14));
        greenAt[x] = column + Slot(y + ((b * w.greenFromCb + r * w.greenFromCr + (1 << 13)) >> 14));
        blueAt[x] = column + Slot(y + ((b * w.blueFromCb + (1 << 13)) >> 14));
        vectorAt[x] = Bin(r) * kVectorSide + Bin(b);
    }
}

}  // namespace

int LevelSlot(int level) { return Slot(level); }

int VectorBin(int chroma) { return Bin(chroma); }

std::array<int, 3> ScopeRgb(const PIXEL_YC& yc) {
    const int round = 1 << 13;
    return {yc.y + ((yc.cr * kWeights.redFromCr + round) >> 14),
            yc.y + ((yc.cb * kWeights.greenFromCb + yc.cr * kWeights.greenFromCr + round) >> 14),
            yc.y + ((yc.cb * kWeights.blueFromCb + round) >> 14)};
}

ScopeCounts CountScopes(const YcFrame& frame) {
    ScopeCounts counts;
    counts.width = frame.width;
    counts.height = frame.height;
    counts.waveform.assign(size_t(kWaveformColumns) * kScopeSlots, 0);
    for (auto& channel : counts.parade) channel.assign(size_t(kParadeColumns) * kScopeSlots, 0);
    counts.vectorscope.assign(size_t(kVectorSide) * kVectorSide, 0);
    const std::vector<uint16_t> waveColumn = ColumnsOf(frame.width, kWaveformColumns);
    const std::vector<uint16_t> paradeColumn = ColumnsOf(frame.width, kParadeColumns);
    uint32_t* const wave = counts.waveform.data();
    uint32_t* const red = counts.parade[0].data();
    uint32_t* const green = counts.parade[1].data();
    uint32_t* const blue = counts.parade[2].data();
    uint32_t* const vector = counts.vectorscope.data();
    // A row's places first, in plain arithmetic on vectors; then the
    // counting, which is all scattered increments.
    const size_t width = size_t(frame.width);
    std::vector<int32_t> places(width * 8);  // five places, three samples
    int32_t* const waveAt = places.data();
    int32_t* const redAt = waveAt + width;
    int32_t* const greenAt = redAt + width;
    int32_t* const blueAt = greenAt + width;
    int32_t* const vectorAt = blueAt + width;
    int32_t* const samples = vectorAt + width;
    for (int y = 0; y < frame.height; ++y) {
        const PIXEL_YC* row = frame.Row(y);
        for (int x = 0; x < frame.width; ++x) {
            samples[x] = row[x].y;
            samples[width + size_t(x)] = row[x].cb;
            samples[2 * width + size_t(x)] = row[x].cr;
        }
        RowPlaces(frame.width, samples, samples + width, samples + 2 * width, waveColumn.data(), paradeColumn.data(),
                  waveAt, redAt, greenAt, blueAt, vectorAt);
        for (size_t x = 0; x < width; ++x) ++wave[waveAt[x]];
        for (size_t x = 0; x < width; ++x) ++red[redAt[x]];
        for (size_t x = 0; x < width; ++x) ++green[greenAt[x]];
        for (size_t x = 0; x < width; ++x) ++blue[blueAt[x]];
        for (size_t x = 0; x < width; ++x) ++vector[vectorAt[x]];
    }
    // Each histogram is its scope's columns summed: no second pass.
    const auto sum = [](const std::vector<uint32_t>& columns, std::vector<uint64_t>& histogram) {
        histogram.assign(kScopeSlots, 0);
        for (size_t i = 0; i < columns.size(); ++i) histogram[i % kScopeSlots] += columns[i];
    };
    sum(counts.waveform, counts.histogram[0]);
    for (int c = 0; c < 3; ++c) sum(counts.parade[size_t(c)], counts.histogram[size_t(c) + 1]);
    return counts;
}

std::array<PIXEL_YC, 6> BarTargets(double level) {
    static const double kBars[6][3] = {{1, 0, 0}, {1, 0, 1}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}, {1, 1, 0}};
    std::array<PIXEL_YC, 6> targets;
    for (size_t i = 0; i < 6; ++i) {
        targets[i] = YcFromRgb(kBars[i][0] * level, kBars[i][1] * level, kBars[i][2] * level);
    }
    return targets;
}
