#include "host/picture/png_io.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/files/stop_signals.h"

namespace {

// Interlaced images are decoded whole, so their size is bounded more tightly
// than that of images read row by row.
constexpr size_t kMaxInterlacedPixels = size_t(4096) * 4096;
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(8) << 20;

// libpng leaves a failing call by longjmp: the code between setjmp and the
// failure keeps everything that has a destructor in its caller, and the
// message travels in this plain record.
struct PngContext {
    ByteInput* input = nullptr;
    ByteOutput* output = nullptr;
    char message[256] = "";
    // The message is a stream's IoError, which already names the file.
    bool namesFile = false;
    // A stop ended the stream's wait; it goes on once libpng has let go.
    int stoppedBy = 0;
};

PngContext& ContextOf(png_structp png) { return *static_cast<PngContext*>(png_get_error_ptr(png)); }

void OnError(png_structp png, png_const_charp message) {
    PngContext& context = ContextOf(png);
    // The stream callbacks hand back the context's own message: copying it
    // onto itself would be undefined.
    if (message != context.message) std::snprintf(context.message, sizeof context.message, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromInput(png_structp png, png_bytep data, size_t size) {
    PngContext& context = ContextOf(png);
    size_t got = 0;
    try {
        got = context.input->Read(data, size);
    } catch (const IoError& error) {
        std::snprintf(context.message, sizeof context.message, "%s", error.what());
        context.namesFile = true;
    } catch (const Stopped& stop) {
        context.stoppedBy = stop.signal();
    }
    if (got != size) png_error(png, context.message[0] ? context.message : "file cut short");
}

void WriteToOutput(png_structp png, png_bytep data, size_t size) {
    PngContext& context = ContextOf(png);
    bool written = false;
    try {
        context.output->Write(data, size);
        written = true;
    } catch (const IoError& error) {
        std::snprintf(context.message, sizeof context.message, "%s", error.what());
        context.namesFile = true;
    } catch (const Stopped& stop) {
        context.stoppedBy = stop.signal();
    }
    if (!written) png_error(png, context.message[0] ? context.message : "stopped");
}

void FlushOutput(png_structp) {}

template <typename Sample>
bool ReadRows(png_structp png, std::vector<Sample>& samples, size_t rowSamples, uint32_t height, int passes) {
    const auto row = [&](uint32_t y) { return reinterpret_cast<png_bytep>(&samples[y * rowSamples]); };
    if (passes > 1) {
        samples.resize(rowSamples * height);
        for (int pass = 0; pass < passes; ++pass) {
            for (uint32_t y = 0; y < height; ++y) png_read_row(png, row(y), nullptr);
        }
        return true;
    }
    // Rows arrive one by one and the buffer grows with them, so a header
    // promising a huge image costs memory only for the rows really present.
    samples.clear();
    for (uint32_t y = 0; y < height; ++y) {
        const size_t needed = rowSamples * (y + 1);
        if (samples.size() < needed) {
            samples.resize(std::min(rowSamples * height, std::max(needed, samples.size() * 2)));
        }
        png_read_row(png, row(y), nullptr);
    }
    return true;
}

bool Decode(png_structp png, png_infop info, Picture* picture) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_read_info(png, info);
    const uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const int bitDepth = png_get_bit_depth(png, info), colourType = png_get_color_type(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE && size_t(width) * height > kMaxInterlacedPixels) {
        png_error(png, "interlaced image too large");
    }
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    // Also drops the alpha that expanding a palette with transparency adds.
    png_set_strip_alpha(png);
    if (!(colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    if (bitDepth == 16) png_set_swap(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = size_t(width) * 3 * (bitDepth == 16 ? 2 : 1);
    if (png_get_channels(png, info) != 3 || png_get_rowbytes(png, info) != rowBytes) {
        png_error(png, "unexpected layout after conversion to RGB");
    }

    picture->width = int(width);
    picture->height = int(height);
    picture->format = PictureFormat{ColourModel::Rgb, Chroma::k444, bitDepth == 16 ? 16 : 8, false};
    const size_t rowSamples = size_t(width) * 3;
    return bitDepth == 16 ? ReadRows(png, picture->samples16, rowSamples, height, passes)
                          : ReadRows(png, picture->samples8, rowSamples, height, passes);
}

bool Encode(png_structp png, png_infop info, const Picture* picture, png_bytep* rows, PngPacking packing) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, uint32_t(picture->width), uint32_t(picture->height), picture->format.depth,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Fast compression: the host's output is a working file, not an archive.
    png_set_compression_level(png, packing == PngPacking::kSmall ? 2 : packing == PngPacking::kQuick ? 1 : 0);
    // libpng otherwise tries all five row filters on every row, which costs
    // more than the whole compression at level 1.
    if (packing == PngPacking::kQuick) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    if (packing == PngPacking::kStored) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    if (picture->format.depth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool IsPngSignature(const unsigned char* bytes, size_t size) {
    return size >= kPngSignatureSize && png_sig_cmp(bytes, 0, kPngSignatureSize) == 0;
}

Picture ReadPng(ByteInput& input) {
    PngContext context;
    context.input = &input;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw IoError(input.name() + ": out of memory");
    }
    png_set_read_fn(png, &context, ReadFromInput);
    Picture picture;
    bool ok;
    try {
        ok = Decode(png, info, &picture);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok && context.stoppedBy) throw Stopped(context.stoppedBy);
    if (!ok) throw IoError(context.namesFile ? context.message : input.name() + ": " + context.message);
    return picture;
}

void WritePng(ByteOutput& output, const Picture& picture, PngPacking packing) {
    std::vector<png_bytep> rows(size_t(picture.height));
    const size_t rowSamples = size_t(picture.width) * 3;
    for (size_t y = 0; y < rows.size(); ++y) {
        rows[y] = picture.format.depth == 16
                      ? reinterpret_cast<png_bytep>(const_cast<uint16_t*>(&picture.samples16[y * rowSamples]))
                      : const_cast<png_bytep>(&picture.samples8[y * rowSamples]);
    }
    PngContext context;
    context.output = &output;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw IoError(output.name() + ": out of memory");
    }
    png_set_write_fn(png, &context, WriteToOutput, FlushOutput);
    bool ok = Encode(png, info, &picture, rows.data(), packing);
    png_destroy_write_struct(&png, &info);
    if (!ok && context.stoppedBy) throw Stopped(context.stoppedBy);
    if (!ok) throw IoError(context.namesFile ? context.message : output.name() + ": " + context.message);
}

std::string EncodePng(const Picture& picture, PngPacking packing) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* memory = open_memstream(&buffer, &size);
    if (!memory) throw IoError("a picture in memory: out of memory");
    try {
        ByteOutput output(memory, "a picture in memory");
        WritePng(output, picture, packing);
    } catch (...) {
        std::fclose(memory);
        std::free(buffer);
        throw;
    }
    std::fclose(memory);
    std::string png(buffer, size);
    std::free(buffer);
    return png;
}
