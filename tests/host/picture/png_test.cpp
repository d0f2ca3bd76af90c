#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include "host/picture/png_io.h"
#include "tests/host/stream_test_support.h"

namespace {

Picture RgbPicture(int width, int height, int depth) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.format = {ColourModel::Rgb, Chroma::k444, depth, false};
    for (size_t i = 0; i < size_t(width) * height * 3; ++i) {
        if (depth == 16) picture.samples16.push_back(uint16_t(i * 2017));
        else picture.samples8.push_back(uint8_t(i * 7));
    }
    return picture;
}

std::string Encoded(const Picture& picture) {
    TempFile file(std::tmpfile());
    ByteOutput output(file.get(), "out.png");
    WritePng(output, picture);
    output.Flush();
    return ContentsOf(file.get());
}

Picture Decoded(const std::string& bytes, const char* name = "in.png") {
    TempFile file = TempFileWith(bytes);
    ByteInput input(file.get(), name);
    return ReadPng(input);
}

// A PNG of another colour type, through libpng's simplified writer.
std::string EncodedAs(uint32_t format, int width, int height, const std::vector<uint16_t>& samples,
                      const std::vector<uint8_t>& colourMap = {}) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = uint32_t(width);
    image.height = uint32_t(height);
    image.format = format;
    image.colormap_entries = uint32_t(colourMap.size() / 4);
    std::vector<uint8_t> bytes8(samples.begin(), samples.end());
    const void* buffer = (format & PNG_FORMAT_FLAG_LINEAR) ? static_cast<const void*>(samples.data()) : bytes8.data();
    TempFile file(std::tmpfile());
    EXPECT_TRUE(png_image_write_to_stdio(&image, file.get(), 0, buffer, 0,
                                         colourMap.empty() ? nullptr : colourMap.data())) << image.message;
    return ContentsOf(file.get());
}

TEST(Png, WritesAndReadsRgbAt8And16BitsAtOddSizes) {
    for (int depth : {8, 16}) {
        const Picture picture = RgbPicture(37, 13, depth);
        const Picture back = Decoded(Encoded(picture));
        EXPECT_EQ(back.width, 37);
        EXPECT_EQ(back.height, 13);
        EXPECT_EQ(back.format, picture.format);
        EXPECT_EQ(back.samples8, picture.samples8) << "depth " << depth;
        EXPECT_EQ(back.samples16, picture.samples16) << "depth " << depth;
    }
}

TEST(Png, ReadsGreyAndAlphaAsRgbWithoutTheAlpha) {
    Picture grey = Decoded(EncodedAs(PNG_FORMAT_GRAY, 2, 1, {10, 200}));
    EXPECT_EQ(grey.samples8, (std::vector<uint8_t>{10, 10, 10, 200, 200, 200}));
    Picture greyAlpha = Decoded(EncodedAs(PNG_FORMAT_GA, 1, 1, {77, 255}));
    EXPECT_EQ(greyAlpha.samples8, (std::vector<uint8_t>{77, 77, 77}));
    Picture rgba = Decoded(EncodedAs(PNG_FORMAT_RGBA, 1, 1, {1, 2, 3, 255}));
    EXPECT_EQ(rgba.samples8, (std::vector<uint8_t>{1, 2, 3}));
    Picture palette = Decoded(EncodedAs(PNG_FORMAT_RGBA_COLORMAP, 2, 1, {1, 0}, {9, 8, 7, 128, 6, 5, 4, 255}));
    EXPECT_EQ(palette.samples8, (std::vector<uint8_t>{6, 5, 4, 9, 8, 7}));
    Picture grey16 = Decoded(EncodedAs(PNG_FORMAT_LINEAR_Y, 1, 1, {54321}));
    EXPECT_EQ(grey16.format.depth, 16);
    EXPECT_EQ(grey16.samples16, (std::vector<uint16_t>{54321, 54321, 54321}));
}

std::string ErrorOf(const std::string& bytes) {
    try {
        Decoded(bytes, "bad.png");
    } catch (const IoError& error) {
        return error.what();
    }
    return "no error";
}

// The header chunk of a width x height RGB image, with its checksum.
std::string HeaderOnly(uint32_t width, uint32_t height) {
    std::string ihdr = "IHDR";
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) ihdr += char(v >> shift);
    }
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(ihdr.data()), uInt(ihdr.size())));
    std::string chunk = std::string("\0\0\0\x0d", 4) + ihdr;
    for (int shift = 24; shift >= 0; shift -= 8) chunk += char(crc >> shift);
    return "\x89PNG\r\n\x1a\n" + chunk;
}

TEST(Png, RefusesTruncatedCorruptAndHugePicturesNamingTheFile) {
    const std::string valid = Encoded(RgbPicture(64, 64, 8));
    std::string corrupt = valid;
    corrupt[40] ^= 0x55;
    for (const std::string& bytes : {valid.substr(0, valid.size() / 2), valid.substr(0, 20), corrupt,
                                     std::string("\x89PNG\r\n\x1a\n", 8), HeaderOnly(100000, 10),
                                     HeaderOnly(16384, 16384) + valid.substr(33)}) {
        const std::string error = ErrorOf(bytes);
        EXPECT_EQ(error.compare(0, 9, "bad.png: "), 0) << "got \"" << error << "\"";
    }
}

}  // namespace
