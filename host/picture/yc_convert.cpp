#include "host/picture/yc_convert.h"

#include <algorithm>
#include <cmath>

#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace {

constexpr double kYcWhite = 4096.0;
constexpr double kYcChroma = 2048.0;

// BT.601 luma weights and the colour-difference scales that bring B'-Y' and
// R'-Y' to +-0.5.
constexpr double kKr = 0.299, kKg = 0.587, kKb = 0.114;
constexpr double kCbScale = 2.0 * (1.0 - kKb);  // 1.772
constexpr double kCrScale = 2.0 * (1.0 - kKr);  // 1.402

// Clamping comes first, so the rounding below never sees a value that does
// not fit. Halves round away from zero, as std::lround does, but without a
// call or a branch: the conversion truncates towards zero.
int16_t ClampToInt16(double v) {
    v = std::min(std::max(v, double(INT16_MIN)), double(INT16_MAX));
    return int16_t(int(v + std::copysign(0.5, v)));
}

uint16_t ClampToCode(double v, int maxCode) {
    return uint16_t(int(std::min(std::max(v, 0.0), double(maxCode)) + 0.5));
}

// The sum of 2^log2Count values rounded to their mean, halves away from zero.
int RoundedMean(int sum, int log2Count) {
    const int half = (1 << log2Count) >> 1;
    return sum >= 0 ? (sum + half) >> log2Count : -((-sum + half) >> log2Count);
}

}  // namespace

PIXEL_YC YcFromRgb(double r, double g, double b) {
    constexpr double kCbFromDifference = kYcWhite / kCbScale, kCrFromDifference = kYcWhite / kCrScale;
    const double luma = kKr * r + kKg * g + kKb * b;
    return PIXEL_YC{ClampToInt16(luma * kYcWhite), ClampToInt16((b - luma) * kCbFromDifference),
                    ClampToInt16((r - luma) * kCrFromDifference)};
}

void RgbFromYc(const PIXEL_YC& yc, double rgb[3]) {
    constexpr double kGreenFromCb = kKb * kCbScale / kKg, kGreenFromCr = kKr * kCrScale / kKg;
    const double luma = yc.y / kYcWhite, cb = yc.cb / kYcWhite, cr = yc.cr / kYcWhite;
    rgb[0] = luma + kCrScale * cr;
    rgb[1] = luma - kGreenFromCb * cb - kGreenFromCr * cr;
    rgb[2] = luma + kCbScale * cb;
}

YcConverter::YcConverter(const PictureFormat& format) : format_(format) {
    const int maxCode = (1 << format.depth) - 1;
    // 8-bit samples cannot exceed their table; deeper ones are looked up
    // whatever their value, since a file may hold codes above its depth.
    const int codes = format.depth > 8 ? 65536 : 256;
    if (format.model == ColourModel::Rgb) {
        rgbLevel_.resize(codes);
        for (int code = 0; code < codes; ++code) rgbLevel_[code] = double(code) / maxCode;
        return;
    }
    double lumaLow, lumaSpan, chromaMid, chromaHalfSpan;
    if (format.fullRange) {
        lumaLow = 0;
        lumaSpan = maxCode;
        chromaMid = double(1 << (format.depth - 1));
        chromaHalfSpan = maxCode / 2.0;
    } else {
        const int scale = 1 << (format.depth - 8);
        lumaLow = 16.0 * scale;
        lumaSpan = 219.0 * scale;
        chromaMid = 128.0 * scale;
        chromaHalfSpan = 112.0 * scale;
    }
    lumaToYc_.resize(codes);
    chromaToYc_.resize(codes);
    for (int code = 0; code < codes; ++code) {
        lumaToYc_[code] = ClampToInt16((code - lumaLow) * kYcWhite / lumaSpan);
        chromaToYc_[code] = ClampToInt16((code - chromaMid) * kYcChroma / chromaHalfSpan);
    }
    // The tables' formulas over 4096, with 2048 added for the rounding: exact
    // whenever every product fits (the spans below are whole numbers).
    const int64_t lumaMultiplier = int64_t(lumaSpan), chromaMultiplier = int64_t(chromaHalfSpan * 2);
    const int64_t lumaOffset = int64_t(lumaLow * kYcWhite) + 2048, chromaOffset = int64_t(chromaMid * kYcWhite) + 2048;
    const auto fits = [](int64_t multiplier, int64_t offset) {
        return std::max(-INT16_MIN * multiplier - offset, INT16_MAX * multiplier + offset) <= INT32_MAX;
    };
    if (lumaMultiplier == lumaSpan && chromaMultiplier == chromaHalfSpan * 2 && fits(lumaMultiplier, lumaOffset) &&
        fits(chromaMultiplier, chromaOffset)) {
        affine_ = true;
        lumaCode_ = Affine{int32_t(lumaMultiplier), int32_t(lumaOffset)};
        chromaCode_ = Affine{int32_t(chromaMultiplier), int32_t(chromaOffset)};
    }
    ycToLuma_.resize(65536);
    ycToChroma_.resize(65536);
    for (int yc = INT16_MIN; yc <= INT16_MAX; ++yc) {
        ycToLuma_[uint16_t(yc)] = ClampToCode(yc * lumaSpan / kYcWhite + lumaLow, maxCode);
        ycToChroma_[uint16_t(yc)] = ClampToCode(yc * chromaHalfSpan / kYcChroma + chromaMid, maxCode);
    }
}

void YcConverter::ToYc(const Picture& picture, YcFrame& frame) const {
    if (format_.model == ColourModel::Rgb) {
        if (format_.depth > 8) RgbToYc(picture.samples16.data(), frame);
        else RgbToYc(picture.samples8.data(), frame);
    } else {
        if (format_.depth > 8) PlanesToYc(picture.samples16.data(), picture, frame);
        else PlanesToYc(picture.samples8.data(), picture, frame);
    }
}

void YcConverter::FromYc(const YcFrame& frame, Picture& picture) const {
    if (!affine_ || format_.model == ColourModel::Rgb) {
        FromYcByTables(frame, picture);
        return;
    }
    ShapePicture(frame, picture);
    if (format_.depth > 8) PlanesFromYcAffine(frame, picture, picture.samples16.data());
    else PlanesFromYcAffine(frame, picture, picture.samples8.data());
}

void YcConverter::FromYcByTables(const YcFrame& frame, Picture& picture) const {
    ShapePicture(frame, picture);
    if (format_.model == ColourModel::Rgb) {
        if (format_.depth > 8) RgbFromYcFrame(frame, picture.samples16.data());
        else RgbFromYcFrame(frame, picture.samples8.data());
    } else {
        if (format_.depth > 8) PlanesFromYc(frame, picture, picture.samples16.data());
        else PlanesFromYc(frame, picture, picture.samples8.data());
    }
}

void YcConverter::ShapePicture(const YcFrame& frame, Picture& picture) const {
    picture.width = frame.width;
    picture.height = frame.height;
    picture.format = format_;
    const size_t count = picture.SampleCount();
    if (format_.depth > 8) {
        picture.samples16.resize(count);
        picture.samples8.clear();
    } else {
        picture.samples8.resize(count);
        picture.samples16.clear();
    }
}

template <typename Sample>
void YcConverter::PlanesToYc(const Sample* samples, const Picture& picture, YcFrame& frame) const {
    const int w = picture.width, cw = picture.ChromaWidth();
    const int xShift = format_.chroma == Chroma::k444 ? 0 : 1;
    const int yShift = format_.chroma == Chroma::k420 ? 1 : 0;
    const Sample* lumaPlane = samples;
    const Sample* cbPlane = lumaPlane + size_t(w) * picture.height;
    const Sample* crPlane = cbPlane + size_t(cw) * picture.ChromaHeight();
    for (int y = 0; y < picture.height; ++y) {
        PIXEL_YC* out = frame.Row(y);
        const Sample* luma = lumaPlane + size_t(y) * w;
        const Sample* cb = cbPlane + size_t(y >> yShift) * cw;
        const Sample* cr = crPlane + size_t(y >> yShift) * cw;
        for (int x = 0; x < w; ++x) {
            out[x] = PIXEL_YC{lumaToYc_[luma[x]], chromaToYc_[cb[x >> xShift]],
                              chromaToYc_[cr[x >> xShift]]};
        }
    }
}

// Chroma is subsampled by averaging the YC values the sample covers (the
// pixels inside the picture only), which undoes the replication of ToYc.
template <typename Sample>
void YcConverter::PlanesFromYc(const YcFrame& frame, const Picture& picture, Sample* samples) const {
    const int w = picture.width, h = picture.height;
    const int cw = picture.ChromaWidth(), ch = picture.ChromaHeight();
    const int xShift = format_.chroma == Chroma::k444 ? 0 : 1;
    const int yShift = format_.chroma == Chroma::k420 ? 1 : 0;
    Sample* lumaPlane = samples;
    Sample* cbPlane = lumaPlane + size_t(w) * h;
    Sample* crPlane = cbPlane + size_t(cw) * ch;
    for (int cy = 0; cy < ch; ++cy) {
        // At an odd right or bottom edge a chroma sample covers one column or
        // row fewer.
        const int y0 = cy << yShift, yLog2 = y0 + 1 < h ? yShift : 0;
        const PIXEL_YC* top = frame.Row(y0);
        const PIXEL_YC* bottom = frame.Row(y0 + yLog2);
        // The luma of the rows this chroma row covers, while they are at hand.
        for (int y = y0; y <= y0 + yLog2; ++y) {
            const PIXEL_YC* in = frame.Row(y);
            Sample* luma = lumaPlane + size_t(y) * w;
            for (int x = 0; x < w; ++x) luma[x] = Sample(ycToLuma_[uint16_t(in[x].y)]);
        }
        Sample* cbRow = cbPlane + size_t(cy) * cw;
        Sample* crRow = crPlane + size_t(cy) * cw;
        for (int cx = 0; cx < cw; ++cx) {
            const int x0 = cx << xShift, xLog2 = x0 + 1 < w ? xShift : 0;
            const int x1 = x0 + xLog2;
            int cbSum = top[x0].cb, crSum = top[x0].cr;
            if (xLog2) cbSum += top[x1].cb, crSum += top[x1].cr;
            if (yLog2) {
                cbSum += bottom[x0].cb, crSum += bottom[x0].cr;
                if (xLog2) cbSum += bottom[x1].cb, crSum += bottom[x1].cr;
            }
            cbRow[cx] = Sample(ycToChroma_[uint16_t(RoundedMean(cbSum, xLog2 + yLog2))]);
            crRow[cx] = Sample(ycToChroma_[uint16_t(RoundedMean(crSum, xLog2 + yLog2))]);
        }
    }
}

namespace {

// A multiplier of 16 bits lets the products widen from 16-bit lanes, which
// SSE2 multiplies directly; 32-bit lanes it can only multiply in halves.
template <typename Sample, typename Multiplier>
void AffineRowWith(const int16_t* __restrict in, int count, Multiplier multiplier, int32_t offset, int maxCode,
                   Sample* __restrict out) {
    for (int x = 0; x < count; ++x) {
        out[x] = Sample(std::clamp((int32_t(in[x]) * int32_t(multiplier) + offset) >> 12, 0, maxCode));
    }
}

template <typename Sample>
void AffineRow(const int16_t* in, int count, int32_t multiplier, int32_t offset, int maxCode, Sample* out) {
    if (multiplier <= INT16_MAX) AffineRowWith(in, count, int16_t(multiplier), offset, maxCode, out);
    else AffineRowWith(in, count, multiplier, offset, maxCode, out);
}

#ifdef __x86_64__
// Eight pixels are three 16-byte loads; byte shuffles pick each component's
// words out of the three, which the compiler cannot do with SSE2 alone. For
// each of Y, Cb and Cr and each load: the word of the load that lands at each
// output position, or -1.
constexpr int8_t kWordFrom[3][3][8] = {
    {{0, 3, 6, -1, -1, -1, -1, -1}, {-1, -1, -1, 1, 4, 7, -1, -1}, {-1, -1, -1, -1, -1, -1, 2, 5}},
    {{1, 4, 7, -1, -1, -1, -1, -1}, {-1, -1, -1, 2, 5, -1, -1, -1}, {-1, -1, -1, -1, -1, 0, 3, 6}},
    {{2, 5, -1, -1, -1, -1, -1, -1}, {-1, -1, 0, 3, 6, -1, -1, -1}, {-1, -1, -1, -1, -1, 1, 4, 7}},
};

// Returns how many pixels it split.
__attribute__((target("ssse3"))) int SplitRowSsse3(const PIXEL_YC* in, int count, int16_t* y, int16_t* cb,
                                                    int16_t* cr) {
    __m128i masks[3][3];
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 3; ++v) {
            alignas(16) int8_t bytes[16];
            for (int k = 0; k < 8; ++k) {
                const int8_t word = kWordFrom[c][v][k];
                bytes[2 * k] = word < 0 ? int8_t(-128) : int8_t(2 * word);
                bytes[2 * k + 1] = word < 0 ? int8_t(-128) : int8_t(2 * word + 1);
            }
            masks[c][v] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
        }
    }
    int16_t* const out[3] = {y, cb, cr};
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const auto* at = reinterpret_cast<const __m128i*>(in + x);
        const __m128i loads[3] = {_mm_loadu_si128(at), _mm_loadu_si128(at + 1), _mm_loadu_si128(at + 2)};
        for (int c = 0; c < 3; ++c) {
            const __m128i words = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(loads[0], masks[c][0]), _mm_shuffle_epi8(loads[1], masks[c][1])),
                _mm_shuffle_epi8(loads[2], masks[c][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + x), words);
        }
    }
    return x;
}
#endif

void SplitRow(const PIXEL_YC* __restrict in, int count, int16_t* __restrict y, int16_t* __restrict cb,
              int16_t* __restrict cr) {
    int x = 0;
#ifdef __x86_64__
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) x = SplitRowSsse3(in, count, y, cb, cr);
#endif
    for (; x < count; ++x) {
        y[x] = in[x].y;
        cb[x] = in[x].cb;
        cr[x] = in[x].cr;
    }
}

// The means of horizontal pairs over one row, or over two rows when
// `twoRows` is 1 (`bottom` is then the second), halves away from zero.
void MeanOfPairs(const int16_t* __restrict top, const int16_t* __restrict bottom, int twoRows, int pairs,
                 int16_t* __restrict out) {
    const int log2Count = 1 + twoRows, half = 1 << twoRows;
    for (int cx = 0; cx < pairs; ++cx) {
        const int sum = top[2 * cx] + top[2 * cx + 1] + twoRows * (bottom[2 * cx] + bottom[2 * cx + 1]);
        const int sign = sum >> 31;  // 0 or -1
        out[cx] = int16_t(((((sum ^ sign) - sign + half) >> log2Count) ^ sign) - sign);
    }
}

}  // namespace

// PlanesFromYc in arithmetic, a chroma row at a time, with the frame's
// interleaved Y, Cb and Cr first split into rows of their own: plain loops
// over arrays, which the compiler vectorises.
template <typename Sample>
void YcConverter::PlanesFromYcAffine(const YcFrame& frame, const Picture& picture, Sample* samples) const {
    const int w = picture.width, h = picture.height;
    const int cw = picture.ChromaWidth(), ch = picture.ChromaHeight();
    const int xShift = format_.chroma == Chroma::k444 ? 0 : 1;
    const int yShift = format_.chroma == Chroma::k420 ? 1 : 0;
    const int maxCode = (1 << format_.depth) - 1;
    Sample* lumaPlane = samples;
    Sample* cbPlane = lumaPlane + size_t(w) * h;
    Sample* crPlane = cbPlane + size_t(cw) * ch;
    std::vector<int16_t> rows(size_t(w) * 6 + 2);
    int16_t* const luma = rows.data();
    int16_t* const cb[2] = {luma + w, luma + 3 * w};
    int16_t* const cr[2] = {luma + 2 * w, luma + 4 * w};
    int16_t* const cbMean = luma + 5 * w;
    int16_t* const crMean = cbMean + (w + 1) / 2;
    for (int cy = 0; cy < ch; ++cy) {
        const int y0 = cy << yShift, rowCount = y0 + 1 < h ? 1 << yShift : 1;
        for (int r = 0; r < rowCount; ++r) {
            SplitRow(frame.Row(y0 + r), w, luma, cb[r], cr[r]);
            AffineRow(luma, w, lumaCode_.multiplier, lumaCode_.offset, maxCode, lumaPlane + size_t(y0 + r) * w);
        }
        const int16_t* cbRow = cb[0];
        const int16_t* crRow = cr[0];
        if (xShift) {
            // At an odd right or bottom edge a sample covers fewer pixels.
            const int twoRows = rowCount - 1, pairs = w / 2;
            MeanOfPairs(cb[0], cb[twoRows], twoRows, pairs, cbMean);
            MeanOfPairs(cr[0], cr[twoRows], twoRows, pairs, crMean);
            if (pairs < cw) {
                cbMean[pairs] = int16_t(RoundedMean(cb[0][w - 1] + twoRows * cb[twoRows][w - 1], twoRows));
                crMean[pairs] = int16_t(RoundedMean(cr[0][w - 1] + twoRows * cr[twoRows][w - 1], twoRows));
            }
            cbRow = cbMean;
            crRow = crMean;
        }
        AffineRow(cbRow, cw, chromaCode_.multiplier, chromaCode_.offset, maxCode, cbPlane + size_t(cy) * cw);
        AffineRow(crRow, cw, chromaCode_.multiplier, chromaCode_.offset, maxCode, crPlane + size_t(cy) * cw);
    }
}

template <typename Sample>
void YcConverter::RgbToYc(const Sample* samples, YcFrame& frame) const {
    for (int y = 0; y < frame.height; ++y) {
        PIXEL_YC* out = frame.Row(y);
        const Sample* in = samples + size_t(y) * frame.width * 3;
        for (int x = 0; x < frame.width; ++x, in += 3) {
            out[x] = YcFromRgb(rgbLevel_[in[0]], rgbLevel_[in[1]], rgbLevel_[in[2]]);
        }
    }
}

template <typename Sample>
void YcConverter::RgbFromYcFrame(const YcFrame& frame, Sample* samples) const {
    const int maxCode = (1 << format_.depth) - 1;
    for (int y = 0; y < frame.height; ++y) {
        const PIXEL_YC* in = frame.Row(y);
        Sample* out = samples + size_t(y) * frame.width * 3;
        for (int x = 0; x < frame.width; ++x, out += 3) {
            double rgb[3];
            RgbFromYc(in[x], rgb);
            for (int c = 0; c < 3; ++c) out[c] = Sample(ClampToCode(rgb[c] * maxCode, maxCode));
        }
    }
}
