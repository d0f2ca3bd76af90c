#include "host/cube_lut.h"

#include <cstdio>

#include "host/picture.h"
#include "host/yc_convert.h"

namespace {

// As the host's own frames: rows longer than the picture.
constexpr int kRowPadding = 64;

// The filter's name where the format wants a quoted string or a comment.
std::string Printable(const std::string& name) {
    std::string text;
    for (char c : name) text += (c == '"' || static_cast<unsigned char>(c) < 0x20) ? '\'' : c;
    return text;
}

}  // namespace

bool MakeCubeLut(RunningFilter& filter, const FilterDescription& description, int size, std::string& text) {
    // One frame holds the whole lattice, red varying fastest, then green
    // along the row and blue down the rows: the order of the file's lines.
    const int width = size * size;
    YcFrame frame, temp;
    frame.Resize(width, size, width + kRowPadding);
    temp.Resize(width, size, width + kRowPadding);
    const double step = 1.0 / (size - 1);
    for (int b = 0; b < size; ++b) {
        PIXEL_YC* row = frame.Row(b);
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r) row[g * size + r] = YcFromRgb(r * step, g * step, b * step);
        }
    }
    if (!filter.Process(frame, temp, 0, 1)) return false;

    const std::string name = Printable(description.name);
    text = "# " + name + ", made by kelo-host through the plug-in itself\n"
           "# Input and output: full-range R'G'B' in 0..1, BT.601, as kelo-host converts PNG pictures\n"
           "# to and from the host's YC scale. Output values beyond 0..1 are kept.\n"
           "TITLE \"" + name + "\"\n"
           "LUT_3D_SIZE " + std::to_string(size) + "\n"
           "DOMAIN_MIN 0 0 0\n"
           "DOMAIN_MAX 1 1 1\n";
    text.reserve(text.size() + size_t(width) * size * 30);
    char line[96];
    for (int b = 0; b < size; ++b) {
        const PIXEL_YC* row = frame.Row(b);
        for (int x = 0; x < width; ++x) {
            double rgb[3];
            RgbFromYc(row[x], rgb);
            const int length = std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", rgb[0], rgb[1], rgb[2]);
            text.append(line, size_t(length));
        }
    }
    return true;
}
