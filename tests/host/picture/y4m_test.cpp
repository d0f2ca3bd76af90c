#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/picture/y4m.h"
#include "tests/host/stream_test_support.h"
#ifdef KELO_HAVE_PREVIEW
#include "host/picture/y4m_index.h"
#endif

namespace {

Picture NumberedPicture(int width, int height, PictureFormat format) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.format = format;
    for (size_t i = 0; i < picture.SampleCount(); ++i) {
        if (format.depth > 8) picture.samples16.push_back(uint16_t(i % (1u << format.depth)));
        else picture.samples8.push_back(uint8_t(i));
    }
    return picture;
}

TEST(Y4m, WritesAndReadsEveryLayoutAndDepthAtOddSizes) {
    for (const char* colourSpace : {"420jpeg", "420mpeg2", "422", "444", "420p10", "422p12", "444p16"}) {
        PictureFormat format;
        ASSERT_TRUE(ParseY4mColourSpace(colourSpace, format)) << colourSpace;
        const Picture picture = NumberedPicture(35, 19, format);
        Y4mStreamInfo info{35, 19, format, colourSpace, {"F30000:1001", "It", "A1:1", "XYSCSS=420JPEG"}};
        TempFile file(std::tmpfile());
        ByteOutput output(file.get(), "round.y4m");
        Y4mWriter writer(output, info);
        writer.WriteFrame(picture);
        writer.WriteFrame(picture);
        output.Flush();
        std::rewind(file.get());

        ByteInput input(file.get(), "round.y4m");
        Y4mReader reader(input);
        EXPECT_EQ(reader.info().width, 35);
        EXPECT_EQ(reader.info().height, 19);
        EXPECT_EQ(reader.info().format, format) << colourSpace;
        EXPECT_EQ(reader.info().colourSpace, colourSpace);
        EXPECT_EQ(reader.info().otherParameters, info.otherParameters);
        Picture back;
        for (int frame = 0; frame < 2; ++frame) {
            ASSERT_TRUE(reader.ReadFrame(back)) << colourSpace << " frame " << frame;
            EXPECT_EQ(back.samples8, picture.samples8) << colourSpace;
            EXPECT_EQ(back.samples16, picture.samples16) << colourSpace;
        }
        EXPECT_FALSE(reader.ReadFrame(back));
    }
}

TEST(Y4m, ReadsParametersInAnyOrderWithFrameParametersAndUnknownExtensions) {
    const Picture picture = NumberedPicture(4, 2, {ColourModel::YCbCr, Chroma::k422, 10, true});
    TempFile file = TempFileWith("YUV4MPEG2 XCOLORRANGE=full C422p10 A0:0 H2 Xfoo=bar F25:1 W4 Ib\n"
                                 "FRAME Ixyz Xanything\n" +
                                 std::string(reinterpret_cast<const char*>(picture.samples16.data()),
                                             picture.samples16.size() * 2));
    ByteInput input(file.get(), "params.y4m");
    Y4mReader reader(input);
    EXPECT_EQ(reader.info().format, picture.format);
    EXPECT_EQ(reader.info().otherParameters,
              (std::vector<std::string>{"XCOLORRANGE=full", "A0:0", "Xfoo=bar", "F25:1", "Ib"}));
    Picture back;
    ASSERT_TRUE(reader.ReadFrame(back));
    EXPECT_EQ(back.samples16, picture.samples16);
    EXPECT_EQ(reader.frameParameters(), "Ixyz Xanything");
}

std::string ErrorOf(const std::string& bytes) {
    TempFile file = TempFileWith(bytes);
    ByteInput input(file.get(), "bad.y4m");
    try {
        Y4mReader reader(input);
        Picture picture;
        while (reader.ReadFrame(picture)) {}
    } catch (const IoError& error) {
        return error.what();
    }
    return "no error";
}

TEST(Y4m, RefusesMalformedStreamsWithTheFileAndFrameNamed) {
    const std::string frame8x2 = "FRAME\n" + std::string(8 * 2 + 2 * 4 * 1, 'x');
    const struct {
        std::string bytes, message;
    } cases[] = {
        {"", "bad.y4m: not a YUV4MPEG2 stream"},
        {"YUV4MPEG3 W8 H2\n", "bad.y4m: not a YUV4MPEG2 stream"},
        {"YUV4MPEG2 W8 H2", "bad.y4m: not a YUV4MPEG2 stream"},
        {"YUV4MPEG2 W8\n", "bad.y4m: stream header lacks a valid W or H"},
        {"YUV4MPEG2 Wx H2\n", "bad.y4m: header parameter Wx: expected the width in pixels"},
        {"YUV4MPEG2 W0 H2\n", "bad.y4m: picture size 0x2 is outside 1..16384"},
        {"YUV4MPEG2 W16385 H2\n", "bad.y4m: picture size 16385x2 is outside 1..16384"},
        {"YUV4MPEG2 W99999999999 H2\n", "bad.y4m: header parameter W99999999999: expected the width"},
        {"YUV4MPEG2 W8 H2 Cmono\n", "bad.y4m: unsupported colour space Cmono"},
        {"YUV4MPEG2 W8 H2 C420p8\n", "bad.y4m: unsupported colour space C420p8"},
        {"YUV4MPEG2 W8 H2 C444p17\n", "bad.y4m: unsupported colour space C444p17"},
        {"YUV4MPEG2 W8 H2 " + std::string(5000, 'X') + "\n", "bad.y4m: stream header longer than 4096"},
        {"YUV4MPEG2 W8 H2\n" + frame8x2 + "FRAME\nxx", "bad.y4m: frame 1: cut short (2 of 24 samples)"},
        {"YUV4MPEG2 W8 H2\n" + frame8x2 + "FRA", "bad.y4m: frame 1: frame header cut short"},
        {"YUV4MPEG2 W8 H2\n" + frame8x2 + "FRAMES\n", "bad.y4m: frame 1: expected a FRAME header"},
        {"YUV4MPEG2 W8 H2\nJUNK\n", "bad.y4m: frame 0: expected a FRAME header"},
        {"YUV4MPEG2 W8 H2\nFRAME " + std::string(5000, 'X'), "bad.y4m: frame 0: frame header longer than"},
    };
    for (const auto& c : cases) {
        const std::string error = ErrorOf(c.bytes);
        EXPECT_EQ(error.compare(0, c.message.size(), c.message), 0)
            << "stream " << c.bytes.substr(0, 40) << ": expected \"" << c.message << "\", got \"" << error << "\"";
    }
}

// Header parameters are passed on to the output, so one that means nothing,
// or two that disagree, would be written as a claim about the frames.
TEST(Y4m, RefusesHeaderParametersItCannotVouchForNamingThem) {
    const std::string frame = "FRAME\n" + std::string(8 * 2 + 2 * 4 * 1, 'x');
    const char* rate = "expected a frame rate N:D of whole numbers above 0, or F0:0 for unknown";
    const char* aspect = "expected a pixel aspect N:D of whole numbers above 0, or A0:0 for unknown";
    const struct {
        std::string parameters, message;
    } cases[] = {
        {"F-25:1", rate},
        {"Fabc", rate},
        {"F25:0", rate},
        {"F0:25", rate},
        {"F4294967321:1", rate},
        {"Iz", "expected Ip, It, Ib, Im or I?"},
        {"Aabc", aspect},
        {"XCOLORRANGE=garbage", "expected XCOLORRANGE=FULL or XCOLORRANGE=LIMITED"},
        {"XCOLORRANGE", "expected XCOLORRANGE=FULL or XCOLORRANGE=LIMITED"},
        {"Q5", "not a YUV4MPEG2 parameter"},
        {"W9", "repeats W8"},
        {"H2", "repeats H2"},
        {"C420 C444", "repeats C420"},
        {"Ip It", "repeats Ip"},
        {"XCOLORRANGE=FULL xcolorrange=limited", "repeats XCOLORRANGE=FULL"},
    };
    for (const auto& c : cases) {
        const std::string error = ErrorOf("YUV4MPEG2 W8 H2 " + c.parameters + "\n" + frame);
        const std::string offender = c.parameters.substr(c.parameters.rfind(' ') + 1);
        const std::string expected = "bad.y4m: header parameter " + offender + ": " + c.message;
        EXPECT_EQ(error.compare(0, expected.size(), expected), 0) << c.parameters << ": " << error;
    }
    // Unknown rates and aspects, every interlacing, extensions of any kind
    // (repeated too), and the range in any case go through.
    for (const std::string parameters : {"F0:0 A0:0 I?", "F30000:1001 A128:117 Im", "It Xa=1 Xa=1 X",
                                         "Ib xcolorrange=Full", "Ip XCOLORRANGE=LIMITED"}) {
        EXPECT_EQ(ErrorOf("YUV4MPEG2 W8 H2 " + parameters + "\n" + frame), "no error") << parameters;
    }
}

TEST(Y4m, AHugeHeaderOverAShortFileAllocatesOnlyWhatArrives) {
    // 16384 x 16384 4:4:4 16-bit promises 1.5 GiB a frame.
    TempFile file = TempFileWith("YUV4MPEG2 W16384 H16384 C444p16\nFRAME\n" + std::string(1000, 'x'));
    ByteInput input(file.get(), "huge.y4m");
    Y4mReader reader(input);
    Picture picture;
    EXPECT_THROW(reader.ReadFrame(picture), IoError);
    EXPECT_LE(picture.samples16.capacity() * 2, size_t(4) << 20);
}

#ifdef KELO_HAVE_PREVIEW
TEST(Y4m, AnIndexReadsAnyFrameOfAClipWhoseFrameHeadersDifferInLength) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("kelo-index-" + std::to_string(::getpid()) + ".y4m");
    // 3 x 2 pixels of 4:2:0: 6 luma and 2 x 2 chroma samples, frame i filled with i.
    std::string clip = "YUV4MPEG2 W3 H2 F25:1 C420jpeg\n";
    const char* const headers[] = {"FRAME\n", "FRAME Ixyz XQ=1\n", "FRAME\n"};
    for (int i = 0; i < 3; ++i) clip += headers[i] + std::string(10, char('0' + i));
    std::ofstream(path, std::ios::binary) << clip + "FRAME\n0123";  // a last frame cut short
    Y4mFrameIndex index(path.filename().string(), path.string());
    EXPECT_EQ(index.count(), 3);
    Picture picture;
    for (int i : {2, 0, 1}) {
        index.Read(i, picture);
        EXPECT_EQ(picture.samples8, std::vector<uint8_t>(10, uint8_t('0' + i))) << i;
    }
    std::ofstream(path, std::ios::binary) << "YUV4MPEG2 W3 H2 C420jpeg\nFRAME\n0123456789FRAMX\n0123456789";
    try {
        Y4mFrameIndex broken("broken.y4m", path.string());
        ADD_FAILURE() << "a bad frame header was indexed";
    } catch (const IoError& error) {
        EXPECT_STREQ(error.what(), "broken.y4m: frame 1: no FRAME header");
    }
    std::filesystem::remove(path);
}
#endif

}  // namespace
