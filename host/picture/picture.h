// The pictures the host reads and writes, and the frame it hands the plug-in.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <string>
#include <vector>

#include "plugin/filter.h"

// Sides beyond this are refused before anything is allocated for them.
constexpr int kMaxPictureSide = 16384;

enum class ColourModel { YCbCr, Rgb };
enum class Chroma { k420, k422, k444 };

struct PictureFormat {
    ColourModel model = ColourModel::YCbCr;
    Chroma chroma = Chroma::k444;  // always k444 for Rgb
    int depth = 8;                 // bits per sample, 8..16
    bool fullRange = false;        // YCbCr only: 0..max instead of 16..235 / 16..240

    bool operator==(const PictureFormat&) const = default;
};

// Samples as stored in the file: YCbCr as three planes one after the other
// (Y, Cb, Cr), Rgb interleaved. Depth 8 uses samples8, deeper samples16
// (native byte order).
struct Picture {
    int width = 0;
    int height = 0;
    PictureFormat format;
    std::vector<uint8_t> samples8;
    std::vector<uint16_t> samples16;

    int ChromaWidth() const { return format.chroma == Chroma::k444 ? width : (width + 1) / 2; }
    int ChromaHeight() const { return format.chroma == Chroma::k420 ? (height + 1) / 2 : height; }
    size_t SampleCount() const {
        return size_t(width) * size_t(height) + 2 * size_t(ChromaWidth()) * size_t(ChromaHeight());
    }
    size_t ByteCount() const { return SampleCount() * (format.depth > 8 ? 2 : 1); }
};

// The host's frame: rows of `pitch` pixels (the plug-in's max_w), of which
// the first `width` are the picture.
struct YcFrame {
    int width = 0;
    int height = 0;
    int pitch = 0;
    // Polymorphic so that frames handed to other processes can live in
    // memory they share; the default is the ordinary heap.
    std::pmr::vector<PIXEL_YC> pixels;
    // The Y4M FRAME line's parameters of the frame it came from, for a Y4M
    // output (interlacing of mixed streams, extensions).
    std::string frameParameters;

    void Resize(int w, int h, int rowLength) {
        width = w;
        height = h;
        pitch = rowLength;
        pixels.assign(size_t(rowLength) * size_t(h), PIXEL_YC{0, 0, 0});
    }
    PIXEL_YC* Row(int y) { return pixels.data() + size_t(y) * size_t(pitch); }
    const PIXEL_YC* Row(int y) const { return pixels.data() + size_t(y) * size_t(pitch); }
};
