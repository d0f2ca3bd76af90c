#include "host/filter/probe.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

#include "host/filter/filter_plugin.h"

YcFrame ProbeFrame(int width, int height, int pitch) {
    YcFrame frame;
    frame.Resize(width, height, pitch);
    for (int y = 0; y < height; ++y) {
        PIXEL_YC* row = frame.Row(y);
        for (int x = 0; x < pitch; ++x) {
            const int i = y * pitch + x;
            if (x < width) {
                row[x] = PIXEL_YC{int16_t((i * 7) % 1536), int16_t((i * 13) % 2048 - 1024),
                                  int16_t((i * 29) % 2048 - 1024)};
            } else {
                // Values no conversion produces from the picture's range.
                row[x] = PIXEL_YC{int16_t(-30000 + i), int16_t(30000 - i), int16_t(0x5A5A)};
            }
        }
    }
    return frame;
}

FrameChanges CompareFrames(const YcFrame& before, const YcFrame& after) {
    FrameChanges changes;
    std::map<std::tuple<int, int, int>, int> deltas;
    for (int y = 0; y < before.height; ++y) {
        const PIXEL_YC* was = before.Row(y);
        const PIXEL_YC* is = after.Row(y);
        for (int x = 0; x < before.width; ++x) {
            const int dy = is[x].y - was[x].y, dcb = is[x].cb - was[x].cb, dcr = is[x].cr - was[x].cr;
            if (dy == 0 && dcb == 0 && dcr == 0) continue;
            ++changes.pixelsChanged;
            ++deltas[{dy, dcb, dcr}];
        }
        const auto* wasPadding = reinterpret_cast<const unsigned char*>(was + before.width);
        const auto* isPadding = reinterpret_cast<const unsigned char*>(is + before.width);
        for (size_t i = 0; i < sizeof(PIXEL_YC) * size_t(before.pitch - before.width); ++i) {
            changes.paddingChanged += wasPadding[i] != isPadding[i];
        }
    }
    for (const auto& [delta, pixels] : deltas) {
        changes.deltas.push_back({std::get<0>(delta), std::get<1>(delta), std::get<2>(delta), pixels});
    }
    std::stable_sort(changes.deltas.begin(), changes.deltas.end(),
                     [](const auto& a, const auto& b) { return a.pixels > b.pixels; });
    return changes;
}

std::string EscapeField(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\t') escaped += "\\t";
        else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string FormatProcRecord(bool result, const FrameChanges& changes) {
    std::string text = "proc\t" + std::to_string(result ? 1 : 0) + "\tpixels-changed " +
                       std::to_string(changes.pixelsChanged) + "\tpadding-changed " +
                       std::to_string(changes.paddingChanged) + "\n";
    // Only so many kinds of change are worth a line: a broken transfer
    // changes pixels in countless ways.
    constexpr size_t kDeltaLines = 8;
    for (size_t i = 0; i < changes.deltas.size() && i < kDeltaLines; ++i) {
        const FrameChanges::Delta& d = changes.deltas[i];
        char line[96];
        std::snprintf(line, sizeof line, "change\t%+d %+d %+d\tpixels %d\n", d.y, d.cb, d.cr, d.pixels);
        text += line;
    }
    return text;
}

#ifndef _WIN32
void Probe(const PluginLibrary&, const FilterSettings&, int) {
    throw PluginError("--probe reads the plug-in's reports at its Windows imports: it runs in the Windows build only");
}
#endif
