#include "host/lut/cube_lut.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "host/command_line/exit_status.h"
#include "host/files/utf8_path.h"
#include "host/picture/picture.h"
#include "host/picture/yc_convert.h"

namespace {

// As the host's own frames: rows longer than the picture.
constexpr int kRowPadding = 64;
constexpr int kMaxRowPixels = 4096;

// The filter's name where the format wants a quoted string or a comment.
std::string Printable(const std::string& name) {
    std::string text;
    for (char c : name) text += (c == '"' || static_cast<unsigned char>(c) < 0x20) ? '\'' : c;
    return text;
}

}  // namespace

bool MakeCubeLut(RunningFilter& filter, const FilterDescription& description, int size, std::string& text) {
    // One frame holds the whole lattice in the order of the file's lines,
    // red varying fastest, then green, then blue, in rows of whole red runs
    // no longer than 4096 pixels, a size the editor's filters all take.
    const int points = size * size * size;
    const int width = size * std::min(size, kMaxRowPixels / size);
    const int height = (points + width - 1) / width;
    YcFrame frame, temp;
    frame.Resize(width, height, width + kRowPadding);
    temp.Resize(width, height, width + kRowPadding);
    const auto pixel = [&](int i) -> PIXEL_YC& { return frame.Row(i / width)[i % width]; };
    const double step = 1.0 / (size - 1);
    for (int i = 0; i < points; ++i) {
        pixel(i) = YcFromRgb(i % size * step, i / size % size * step, i / (size * size) * step);
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
    text.reserve(text.size() + size_t(points) * 30);
    char line[96];
    for (int i = 0; i < points; ++i) {
        double rgb[3];
        RgbFromYc(pixel(i), rgb);
        const int length = std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", rgb[0], rgb[1], rgb[2]);
        text.append(line, size_t(length));
    }
    return true;
}

int WriteCube(const PlannedFile& cube, int size, const PluginLibrary& library, const FilterDescription& description,
              const FilterSettings& settings, const std::string& pluginFolder) {
    std::filesystem::current_path(Utf8Path(pluginFolder));
    RunningFilter filter(library.descriptor(), settings);
    if (!filter.Init()) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterInit failed\n");
        return kPluginFailure;
    }
    std::string text;
    if (!MakeCubeLut(filter, description, size, text)) {
        std::fprintf(stderr, "kelo-host: the plug-in's FilterProc failed on the LUT's lattice\n");
        return kPluginFailure;
    }
    WriteWholeFile(cube.name, cube.path, text);
    return kDone;
}
