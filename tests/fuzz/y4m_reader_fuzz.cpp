// Hostile bytes through the Y4M reader and the conversions of what it read.
#include <cstdint>
#include <cstdio>

#include "host/picture/y4m.h"
#include "host/picture/yc_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    ByteInput input(file, "fuzz.y4m");
    try {
        Y4mReader reader(input);
        const YcConverter converter(reader.info().format);
        Picture picture, back;
        YcFrame frame;
        while (reader.ReadFrame(picture)) {
            frame.Resize(picture.width, picture.height, picture.width);
            converter.ToYc(picture, frame);
            converter.FromYc(frame, back);
        }
    } catch (const IoError&) {
    }
    std::fclose(file);
    return 0;
}
