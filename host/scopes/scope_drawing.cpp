#include "host/scopes/scope_drawing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#ifdef KELO_HAVE_PNG
#include "host/picture/png_io.h"
#endif

namespace {

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kBackground{20, 23, 27}, kInside{4, 5, 6}, kFaint{44, 50, 56}, kLine{104, 112, 120},
    kText{178, 186, 194}, kWarning{255, 128, 40};
constexpr Rgb kLuma{200, 255, 210}, kRed{255, 80, 70}, kGreen{80, 255, 100}, kBlue{100, 150, 255};

// The rows every panel shares: a title band, then the scale: a band for
// what lies above the shown range, the 256 levels, a band for what lies
// below.
constexpr int kTitleHeight = 16, kEdgeBand = 3;
constexpr int kLevelsTop = kTitleHeight + kEdgeBand;
constexpr int kScaleMargin = 34, kMargin = 8, kParadeGap = 4;
constexpr int kWaveformWidth = kScaleMargin + kWaveformColumns + kMargin;
constexpr int kParadeInside = 3 * kParadeColumns + 2 * kParadeGap;
constexpr int kParadeWidth = kScaleMargin + kParadeInside + kMargin;
constexpr int kVectorWidth = kMargin + kVectorSide + kMargin;
constexpr int kHistogramInside = kScopeLevels + 2 * kEdgeBand;
constexpr int kHistogramWidth = kMargin + kHistogramInside + kMargin;
constexpr int kStripHeight = 60, kStripGap = 6;
static_assert(kLevelsTop + kScopeLevels + kEdgeBand < kScopeRowHeight - 12);

// Text is a handful of labels in capitals and figures; a 5 x 7 cell font of
// just those keeps kelo-host free of a font stack for them.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'1', {4, 12, 4, 4, 4, 4, 14}},     {'2', {14, 17, 1, 2, 4, 8, 31}},
    {'3', {31, 2, 4, 2, 1, 17, 14}},     {'4', {2, 6, 10, 18, 31, 2, 2}},    {'5', {31, 16, 30, 1, 1, 17, 14}},
    {'6', {6, 8, 16, 30, 17, 17, 14}},   {'7', {31, 1, 2, 4, 8, 8, 8}},      {'8', {14, 17, 17, 14, 17, 17, 14}},
    {'9', {14, 17, 17, 15, 1, 2, 12}},   {'-', {0, 0, 0, 31, 0, 0, 0}},      {'\'', {4, 4, 8, 0, 0, 0, 0}},
    {'%', {24, 25, 2, 4, 8, 19, 3}},     {'<', {1, 2, 4, 8, 4, 2, 1}},       {'>', {16, 8, 4, 2, 4, 8, 16}},
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}}, {'C', {14, 17, 16, 16, 16, 17, 14}},
    {'D', {28, 18, 17, 17, 17, 18, 28}}, {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}}, {'I', {14, 4, 4, 4, 4, 4, 14}},
    {'K', {17, 18, 20, 24, 20, 18, 17}}, {'L', {16, 16, 16, 16, 16, 16, 31}}, {'M', {17, 27, 21, 21, 17, 17, 17}},
    {'N', {17, 17, 25, 21, 19, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}}, {'P', {30, 17, 17, 30, 16, 16, 16}},
    {'R', {30, 17, 17, 30, 20, 18, 17}}, {'S', {15, 16, 16, 14, 1, 1, 30}},   {'T', {31, 4, 4, 4, 4, 4, 4}},
    {'U', {17, 17, 17, 17, 17, 17, 14}}, {'V', {17, 17, 17, 17, 17, 10, 4}},  {'W', {17, 17, 17, 21, 21, 21, 10}},
    {'Y', {17, 17, 17, 10, 4, 4, 4}},    {'b', {16, 16, 22, 25, 17, 17, 30}}, {'r', {0, 0, 22, 25, 16, 16, 16}},
};
constexpr int kAdvance = 6;

class Canvas {
public:
    explicit Canvas(Picture& picture) : p_(picture) {}

    void Set(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= p_.width || y >= p_.height) return;
        uint8_t* at = &p_.samples8[(size_t(y) * size_t(p_.width) + size_t(x)) * 3];
        at[0] = c.r;
        at[1] = c.g;
        at[2] = c.b;
    }
    // Traces light up what is under them and never darken a scale line.
    void Light(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= p_.width || y >= p_.height) return;
        uint8_t* at = &p_.samples8[(size_t(y) * size_t(p_.width) + size_t(x)) * 3];
        at[0] = std::max(at[0], c.r);
        at[1] = std::max(at[1], c.g);
        at[2] = std::max(at[2], c.b);
    }
    void Fill(int x, int y, int w, int h, Rgb c) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Set(i, j, c);
    }
    void Across(int x, int y, int w, Rgb c, int dash = 0) {
        for (int i = 0; i < w; ++i)
            if (!dash || (i / dash) % 2 == 0) Set(x + i, y, c);
    }
    void Down(int x, int y, int h, Rgb c) {
        for (int j = 0; j < h; ++j) Set(x, y + j, c);
    }
    void Text(int x, int y, std::string_view text, Rgb c) {
        for (char ch : text) {
            for (const Glyph& g : kGlyphs) {
                if (g.c != ch) continue;
                for (int row = 0; row < 7; ++row)
                    for (int col = 0; col < 5; ++col)
                        if (g.rows[row] & (16 >> col)) Set(x + col, y + row, c);
            }
            x += kAdvance;
        }
    }
    void RightAligned(int right, int y, std::string_view text, Rgb c) {
        Text(right - int(text.size()) * kAdvance + 1, y, text, c);
    }

private:
    Picture& p_;
};

Rgb Scaled(Rgb c, double share) {
    return Rgb{uint8_t(c.r * share + 0.5), uint8_t(c.g * share + 0.5), uint8_t(c.b * share + 0.5)};
}

// log(1 + count), looked up for the small counts that most cells of a
// scope hold: a quarter of a million cells a row would otherwise cost more
// than the drawing.
double LogCount(uint64_t count) {
    static const std::array<double, 4096> kSmall = [] {
        std::array<double, 4096> logs{};
        for (size_t i = 0; i < logs.size(); ++i) logs[i] = std::log1p(double(i));
        return logs;
    }();
    return count < kSmall.size() ? kSmall[count] : std::log1p(double(count));
}

// Brightness on a log scale, with a floor, so that a single pixel shows
// beside areas of a million.
double Density(uint64_t count, double logMaximum) {
    if (count == 0) return 0;
    return 0.3 + 0.7 * LogCount(count) / logMaximum;
}

double LogMaximum(const std::vector<uint32_t>& counts) {
    const uint32_t most = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    return std::log1p(double(std::max<uint32_t>(most, 1)));
}

// The levels' scale across an inside `width` wide starting at `x`, labelled
// in the margin left of it when `labelled`.
void LevelScale(Canvas& canvas, int x, int width, int rowTop, bool labelled) {
    for (int level : {1024, 2048, 3072}) canvas.Across(x, rowTop + ScopeLevelRow(level), width, kFaint, 2);
    for (int level : {0, 4096}) {
        canvas.Across(x, rowTop + ScopeLevelRow(level), width, kLine);
        if (labelled) canvas.RightAligned(x - 4, rowTop + ScopeLevelRow(level) - 3, std::to_string(level), kText);
    }
    if (!labelled) return;
    canvas.RightAligned(x - 4, rowTop + kTitleHeight - 2, ">4608", kWarning);
    canvas.RightAligned(x - 4, rowTop + kLevelsTop + kScopeLevels - 4, "<-512", kWarning);
}

// Columns of level counts: the shown levels in the trace's colour, the two
// edge slots as bands in the warning colour.
void Trace(Canvas& canvas, int x, int rowTop, const std::vector<uint32_t>& counts, int columns, Rgb tint) {
    const double logMaximum = LogMaximum(counts);
    for (int column = 0; column < columns; ++column) {
        const uint32_t* slots = counts.data() + size_t(column) * kScopeSlots;
        for (int slot = 1; slot <= kScopeLevels; ++slot) {
            if (slots[slot]) canvas.Light(x + column, rowTop + kLevelsTop + kScopeLevels - slot, Scaled(tint, Density(slots[slot], logMaximum)));
        }
        for (int edge : {0, kScopeSlots - 1}) {
            if (!slots[edge]) continue;
            const int top = edge ? kTitleHeight : kLevelsTop + kScopeLevels;
            for (int j = 0; j < kEdgeBand; ++j) canvas.Set(x + column, rowTop + top + j, kWarning);
        }
    }
}

void Waveform(Canvas& canvas, int x0, int rowTop, const ScopeCounts& counts) {
    const int x = x0 + kScaleMargin;
    canvas.Fill(x, rowTop + kTitleHeight, kWaveformColumns, kScopeLevels + 2 * kEdgeBand, kInside);
    LevelScale(canvas, x, kWaveformColumns, rowTop, true);
    Trace(canvas, x, rowTop, counts.waveform, kWaveformColumns, kLuma);
}

void Parade(Canvas& canvas, int x0, int rowTop, const ScopeCounts& counts) {
    const int x = x0 + kScaleMargin;
    const Rgb tints[3] = {kRed, kGreen, kBlue};
    for (int c = 0; c < 3; ++c) {
        const int left = x + c * (kParadeColumns + kParadeGap);
        canvas.Fill(left, rowTop + kTitleHeight, kParadeColumns, kScopeLevels + 2 * kEdgeBand, kInside);
        LevelScale(canvas, left, kParadeColumns, rowTop, c == 0);
        Trace(canvas, left, rowTop, counts.parade[size_t(c)], kParadeColumns, tints[c]);
    }
}

void Vectorscope(Canvas& canvas, int x0, int rowTop, const ScopeCounts& counts) {
    const int x = x0 + kMargin, y = rowTop + kLevelsTop;
    canvas.Fill(x, y, kVectorSide, kVectorSide, kInside);
    const int centreX = ScopeVectorColumn(0), centreY = rowTop + ScopeVectorRow(0);
    canvas.Across(x, centreY, kVectorSide, kFaint, 2);
    canvas.Down(centreX, y, kVectorSide, kFaint);
    // The nominal limit: Cb or Cr of +-2048.
    const double radius = 2048.0 * kVectorSide / (2 * kVectorRange);
    for (int step = 0; step < 720; ++step) {
        const double angle = step * std::numbers::pi / 360;
        canvas.Set(centreX + int(std::lround(radius * std::cos(angle))),
                   centreY - int(std::lround(radius * std::sin(angle))), kLine);
    }
    // Skin tones of every complexion fall near one line, 123 degrees from +Cb.
    const double skin = 123 * std::numbers::pi / 180;
    for (int r = 4; r < radius; r += 2) {
        canvas.Set(centreX + int(std::lround(r * std::cos(skin))), centreY - int(std::lround(r * std::sin(skin))),
                   kText);
    }
    // Boxes at the 75% bars' targets, dots at the 100% bars'.
    const char* names[6] = {"R", "MG", "B", "CY", "G", "YL"};
    const std::array<PIXEL_YC, 6> bars75 = BarTargets(0.75), bars100 = BarTargets(1);
    for (size_t i = 0; i < 6; ++i) {
        const int tx = ScopeVectorColumn(bars75[i].cb), ty = rowTop + ScopeVectorRow(bars75[i].cr);
        for (int d = -4; d <= 4; ++d) {
            for (int e : {-4, 4}) {
                canvas.Set(tx + d, ty + e, kLine);
                canvas.Set(tx + e, ty + d, kLine);
            }
        }
        const int fx = ScopeVectorColumn(bars100[i].cb), fy = rowTop + ScopeVectorRow(bars100[i].cr);
        for (int d = -1; d <= 1; ++d) {
            canvas.Set(fx + d, fy, kLine);
            canvas.Set(fx, fy + d, kLine);
        }
        // The name outside the box, away from the centre.
        const int nx = tx + (tx > centreX ? 7 : -7 - 6 * int(std::string_view(names[i]).size()));
        canvas.Text(nx, ty - 3, names[i], kText);
    }
    const double logMaximum = LogMaximum(counts.vectorscope);
    for (int row = 0; row < kVectorSide; ++row) {
        for (int column = 0; column < kVectorSide; ++column) {
            const uint32_t count = counts.vectorscope[size_t(row) * kVectorSide + size_t(column)];
            if (!count) continue;
            const bool edge = row == 0 || column == 0 || row == kVectorSide - 1 || column == kVectorSide - 1;
            canvas.Light(x + column, y + kVectorSide - 1 - row, edge ? kWarning : Scaled(kLuma, Density(count, logMaximum)));
        }
    }
    canvas.Text(x + kVectorSide - 13, centreY - 10, "Cb", kText);
    canvas.Text(centreX + 4, y + 2, "Cr", kText);
}

void Histograms(Canvas& canvas, int x0, int rowTop, const ScopeCounts& counts) {
    const int x = x0 + kMargin;
    const Rgb tints[4] = {kLuma, kRed, kGreen, kBlue};
    for (int h = 0; h < 4; ++h) {
        const int top = rowTop + kLevelsTop + h * (kStripHeight + kStripGap);
        canvas.Fill(x, top, kHistogramInside, kStripHeight, kInside);
        for (int level : {0, 4096}) canvas.Down(x + kEdgeBand + LevelSlot(level) - 1, top, kStripHeight, kLine);
        const std::vector<uint64_t>& histogram = counts.histogram[size_t(h)];
        uint64_t most = 1;
        for (int slot = 1; slot <= kScopeLevels; ++slot) most = std::max(most, histogram[size_t(slot)]);
        // Heights by a square root, so that a few pixels still stand up.
        for (int slot = 0; slot < kScopeSlots; ++slot) {
            const uint64_t count = histogram[size_t(slot)];
            if (!count) continue;
            const bool edge = slot == 0 || slot == kScopeSlots - 1;
            const int height = edge ? kStripHeight
                                    : std::clamp(int(std::lround(kStripHeight * std::sqrt(double(count) / most))), 1,
                                                 kStripHeight);
            const int column = edge ? (slot ? kHistogramInside - kEdgeBand : 0) : kEdgeBand + slot - 1;
            for (int w = 0; w < (edge ? kEdgeBand : 1); ++w)
                for (int j = 0; j < height; ++j)
                    canvas.Light(x + column + w, top + kStripHeight - 1 - j, edge ? kWarning : Scaled(tints[h], 0.85));
        }
    }
    const int labels = rowTop + kLevelsTop + 4 * kStripHeight + 3 * kStripGap + 3;
    canvas.Text(x + kEdgeBand + LevelSlot(0) - 3, labels, "0", kText);
    canvas.Text(x + kEdgeBand + LevelSlot(4096) - 12, labels, "4096", kText);
}

std::string Titled(const std::string& row, const char* scope) { return row.empty() ? scope : row + "  " + scope; }

}  // namespace

std::array<ScopePanel, 4> ScopePanels() {
    return {ScopePanel{0, kWaveformWidth}, ScopePanel{kWaveformWidth, kParadeWidth},
            ScopePanel{kWaveformWidth + kParadeWidth, kVectorWidth},
            ScopePanel{kWaveformWidth + kParadeWidth + kVectorWidth, kHistogramWidth}};
}

std::string ScopePanelList() {
    std::string list;
    for (const ScopePanel& panel : ScopePanels()) {
        list += (list.empty() ? "" : ",") + std::to_string(panel.x) + " " + std::to_string(panel.width);
    }
    return list;
}

int ScopeLevelRow(int level) {
    const int slot = LevelSlot(level);
    if (slot == 0) return kLevelsTop + kScopeLevels + 1;
    if (slot == kScopeSlots - 1) return kTitleHeight + 1;
    return kLevelsTop + kScopeLevels - slot;
}

int ScopeVectorColumn(int cb) { return ScopePanels()[2].x + kMargin + VectorBin(cb); }

int ScopeVectorRow(int cr) { return kLevelsTop + kVectorSide - 1 - VectorBin(cr); }

Picture DrawScopes(const std::vector<ScopeRow>& rows) {
    Picture picture;
    const ScopePanel last = ScopePanels()[3];
    picture.width = last.x + last.width;
    picture.height = kScopeRowHeight * int(rows.size());
    picture.format = PictureFormat{ColourModel::Rgb, Chroma::k444, 8, false};
    picture.samples8.resize(size_t(picture.width) * size_t(picture.height) * 3);
    Canvas canvas(picture);
    canvas.Fill(0, 0, picture.width, picture.height, kBackground);
    const std::array<ScopePanel, 4> panels = ScopePanels();
    for (size_t r = 0; r < rows.size(); ++r) {
        const int top = int(r) * kScopeRowHeight;
        const ScopeCounts& counts = *rows[r].counts;
        const char* titles[4] = {"WAVEFORM Y", "PARADE R' G' B'", "VECTORSCOPE", "HISTOGRAMS Y R' G' B'"};
        for (size_t p = 0; p < 4; ++p) {
            canvas.Text(panels[p].x + (p < 2 ? kScaleMargin : kMargin), top + 5, Titled(rows[r].title, titles[p]),
                        kText);
        }
        Waveform(canvas, panels[0].x, top, counts);
        Parade(canvas, panels[1].x, top, counts);
        Vectorscope(canvas, panels[2].x, top, counts);
        Histograms(canvas, panels[3].x, top, counts);
    }
    return picture;
}

void WriteScopes(OutputFile& file, [[maybe_unused]] const YcFrame& before, [[maybe_unused]] const YcFrame& after) {
#ifdef KELO_HAVE_PNG
    const ScopeCounts beforeCounts = CountScopes(before), afterCounts = CountScopes(after);
    WritePng(file.output(), DrawScopes({{"BEFORE", &beforeCounts}, {"AFTER", &afterCounts}}));
#else
    throw IoError(file.displayName() + ": this build of kelo-host writes no PNG");
#endif
}
