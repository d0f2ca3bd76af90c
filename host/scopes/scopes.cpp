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

// Where each pixel of a row is counted. Nothing aliases, so that the
// compiler can work on vectors of pixels. On x86-64 Linux a second copy for
// AVX2, chosen once when the program loads (a glibc ifunc) where the
// processor has it, works on eight pixels at a time with the 32-bit
// multiplies and clamps that the base instructions lack: half the time of
// the whole count.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void RowPlaces(int width, const PIXEL_YC* __restrict row, const uint16_t* __restrict waveColumn,
               const uint16_t* __restrict paradeColumn, int32_t* __restrict waveAt, int32_t* __restrict redAt,
               int32_t* __restrict greenAt, int32_t* __restrict blueAt, int32_t* __restrict vectorAt) {
    const RgbWeights w = kWeights;
    for (int x = 0; x < width; ++x) {
        const int y = row[x].y, b = row[x].cb, r = row[x].cr;
        const int column = paradeColumn[x] * kScopeSlots;
        waveAt[x] = waveColumn[x] * kScopeSlots + Slot(y);
        redAt[x] = column + Slot(y + ((r * w.redFromCr + (1 << 13)) >> 14));
        greenAt[x] = column + Slot(y + ((b * w.greenFromCb + r * w.greenFromCr + (1 << 13)) >> 14));
        blueAt[x] = column + Slot(y + ((b * w.blueFromCb + (1 << 13)) >> 14));
        vectorAt[x] = Bin(r) * kVectorSide + Bin(b);
    }
}

// Counters of 16 bits while a band of rows is counted, added into the 32-bit
// totals before any can overflow: half the bytes of the scattered
// increments, so that every scope's counters stay in the processor's cache.
class BandCounts {
public:
    // `most` is the most increments one row can give a single counter.
    BandCounts(size_t size, int most) : counts_(size, 0), rows_(std::max(1, 0xffff / std::max(most, 1))) {}
    uint16_t* data() { return counts_.data(); }
    // After each row: the band is added in when one more row could overflow.
    void RowDone(std::vector<uint32_t>& total) {
        if (++counted_ == rows_) Flush(total);
    }
    void Flush(std::vector<uint32_t>& total) {
        for (size_t i = 0; i < counts_.size(); ++i) total[i] += counts_[i];
        std::fill(counts_.begin(), counts_.end(), uint16_t(0));
        counted_ = 0;
    }

private:
    std::vector<uint16_t> counts_;
    int rows_, counted_ = 0;
};

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
    // A column gets at most its share of a row's pixels, rounded up; a
    // vectorscope bin the whole row.
    const int waveShare = (frame.width + kWaveformColumns - 1) / kWaveformColumns;
    const int paradeShare = (frame.width + kParadeColumns - 1) / kParadeColumns;
    BandCounts wave(counts.waveform.size(), waveShare), vector(counts.vectorscope.size(), frame.width);
    std::array<BandCounts, 3> parade{BandCounts(counts.parade[0].size(), paradeShare),
                                     BandCounts(counts.parade[1].size(), paradeShare),
                                     BandCounts(counts.parade[2].size(), paradeShare)};
    // A row's places first, in plain arithmetic on vectors; then the
    // counting, which is all scattered increments.
    const size_t width = size_t(frame.width);
    std::vector<int32_t> places(width * 5);
    int32_t* const waveAt = places.data();
    int32_t* const redAt = waveAt + width;
    int32_t* const greenAt = redAt + width;
    int32_t* const blueAt = greenAt + width;
    int32_t* const vectorAt = blueAt + width;
    uint16_t* const waveCounts = wave.data();
    uint16_t* const redCounts = parade[0].data();
    uint16_t* const greenCounts = parade[1].data();
    uint16_t* const blueCounts = parade[2].data();
    uint16_t* const vectorCounts = vector.data();
    for (int y = 0; y < frame.height; ++y) {
        const PIXEL_YC* row = frame.Row(y);
        RowPlaces(frame.width, row, waveColumn.data(), paradeColumn.data(),
                  waveAt, redAt, greenAt, blueAt, vectorAt);
        // All five in one loop: neighbouring pixels mostly land on the same
        // counters, and one scope's increments would each wait for the one
        // before; five scopes' chains run side by side.
        for (size_t x = 0; x < width; ++x) {
            ++waveCounts[waveAt[x]];
            ++redCounts[redAt[x]];
            ++greenCounts[greenAt[x]];
            ++blueCounts[blueAt[x]];
            ++vectorCounts[vectorAt[x]];
        }
        wave.RowDone(counts.waveform);
        for (size_t c = 0; c < 3; ++c) parade[c].RowDone(counts.parade[c]);
        vector.RowDone(counts.vectorscope);
    }
    wave.Flush(counts.waveform);
    for (size_t c = 0; c < 3; ++c) parade[c].Flush(counts.parade[c]);
    vector.Flush(counts.vectorscope);
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
