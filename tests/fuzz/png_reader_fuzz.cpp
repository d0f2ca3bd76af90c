// Hostile bytes through the PNG reader and the conversions of what it read.
#include <cstdint>
#include <cstdio>

#include "host/picture/png_io.h"
#include "host/picture/yc_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    ByteInput input(file, "fuzz.png");
    try {
        const Picture picture = ReadPng(input);
        const YcConverter converter(picture.format);
        YcFrame frame;
        frame.Resize(picture.width, picture.height, picture.width);
        converter.ToYc(picture, frame);
        Picture back;
        converter.FromYc(frame, back);
    } catch (const IoError&) {
    }
    std::fclose(file);
    return 0;
}
