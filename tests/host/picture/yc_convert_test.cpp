#include <gtest/gtest.h>

#include <cstdlib>

#include "host/picture/yc_convert.h"

namespace {

// A picture holding every code of its depth, cycling through the planes
// with different phases so that each chroma sample differs from its luma.
Picture EveryCodePicture(int width, int height, PictureFormat format) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.format = format;
    const int codes = 1 << format.depth;
    const size_t count = picture.SampleCount();
    for (size_t i = 0; i < count; ++i) {
        const uint16_t code = uint16_t((i * 7 + i / 3) % codes);
        if (format.depth > 8) picture.samples16.push_back(code);
        else picture.samples8.push_back(uint8_t(code));
    }
    return picture;
}

uint32_t SampleAt(const Picture& picture, size_t i) {
    return picture.format.depth > 8 ? picture.samples16[i] : picture.samples8[i];
}

// Converts to YC and back; returns the largest difference of any sample.
uint32_t RoundTripError(const Picture& picture) {
    YcFrame frame;
    frame.Resize(picture.width, picture.height, picture.width + 64);
    YcConverter converter(picture.format);
    converter.ToYc(picture, frame);
    Picture back;
    converter.FromYc(frame, back);
    EXPECT_EQ(back.SampleCount(), picture.SampleCount());
    uint32_t worst = 0;
    for (size_t i = 0; i < picture.SampleCount(); ++i) {
        const uint32_t a = SampleAt(picture, i), b = SampleAt(back, i);
        worst = std::max(worst, a > b ? a - b : b - a);
    }
    return worst;
}

TEST(YcConvert, LimitedRangeUpTo12BitsIsLosslessInEveryChromaLayoutAndOddSize) {
    for (int depth : {8, 10, 12}) {
        for (Chroma chroma : {Chroma::k420, Chroma::k422, Chroma::k444}) {
            for (auto [w, h] : {std::pair{33, 17}, std::pair{1, 1}, std::pair{64, 48}}) {
                PictureFormat format{ColourModel::YCbCr, chroma, depth, false};
                EXPECT_EQ(RoundTripError(EveryCodePicture(w, h, format)), 0u)
                    << "depth " << depth << ", chroma " << int(chroma) << ", " << w << "x" << h;
            }
        }
    }
}

TEST(YcConvert, FullRange8BitIsLosslessAnd16BitStaysWithinTheScaleStep) {
    EXPECT_EQ(RoundTripError(EveryCodePicture(300, 5, {ColourModel::YCbCr, Chroma::k420, 8, true})), 0u);
    // 56064 luma codes share 4096 YC steps: about 14 codes per step.
    EXPECT_LE(RoundTripError(EveryCodePicture(300, 5, {ColourModel::YCbCr, Chroma::k444, 16, false})), 14u);
}

TEST(YcConvert, Rgb8BitIsLosslessAnd16BitStaysWithinTheScaleStep) {
    EXPECT_EQ(RoundTripError(EveryCodePicture(257, 9, {ColourModel::Rgb, Chroma::k444, 8, false})), 0u);
    EXPECT_LE(RoundTripError(EveryCodePicture(257, 9, {ColourModel::Rgb, Chroma::k444, 16, false})), 64u);
}

TEST(YcConvert, NominalCodesLandOnTheScaleAtEveryDepth) {
    struct Case {
        int depth;
        bool fullRange;
        uint16_t black, white, chromaLow, chromaMid, chromaHigh;
        int16_t cbLow, cbHigh;
    };
    // Full range puts 128 off the middle of 0..255, so its extremes are not
    // symmetric.
    for (const Case& c : {Case{8, false, 16, 235, 16, 128, 240, -2048, 2048},
                          Case{10, false, 64, 940, 64, 512, 960, -2048, 2048},
                          Case{16, false, 4096, 60160, 4096, 32768, 61440, -2048, 2048},
                          Case{8, true, 0, 255, 0, 128, 255, -2056, 2040}}) {
        Picture picture;
        picture.width = 3;
        picture.height = 1;
        picture.format = {ColourModel::YCbCr, Chroma::k444, c.depth, c.fullRange};
        const std::vector<uint16_t> codes = {c.black, c.white, c.white, c.chromaLow, c.chromaMid, c.chromaHigh,
                                             c.chromaHigh, c.chromaMid, c.chromaLow};
        for (uint16_t code : codes) {
            if (c.depth > 8) picture.samples16.push_back(code);
            else picture.samples8.push_back(uint8_t(code));
        }
        YcFrame frame;
        frame.Resize(3, 1, 3);
        YcConverter(picture.format).ToYc(picture, frame);
        const PIXEL_YC* row = frame.Row(0);
        SCOPED_TRACE("depth " + std::to_string(c.depth) + (c.fullRange ? " full" : " limited"));
        EXPECT_EQ(row[0].y, 0);
        EXPECT_EQ(row[1].y, 4096);
        EXPECT_EQ(row[0].cb, c.cbLow);
        EXPECT_EQ(row[1].cb, 0);
        EXPECT_EQ(row[2].cb, c.cbHigh);
        EXPECT_EQ(row[0].cr, c.cbHigh);
    }
}

TEST(YcConvert, OutOfRangeScaleValuesClampToTheCodesOfTheDepth) {
    YcFrame frame;
    frame.Resize(2, 1, 2);
    frame.Row(0)[0] = PIXEL_YC{-32768, -32768, -32768};
    frame.Row(0)[1] = PIXEL_YC{32767, 32767, 32767};
    Picture picture;
    YcConverter({ColourModel::YCbCr, Chroma::k444, 10, false}).FromYc(frame, picture);
    EXPECT_EQ(picture.samples16, (std::vector<uint16_t>{0, 1023, 0, 1023, 0, 1023}));
    YcConverter({ColourModel::Rgb, Chroma::k444, 8, false}).FromYc(frame, picture);
    EXPECT_EQ(picture.samples8[0], 0);
    EXPECT_EQ(picture.samples8[3], 255);
}

TEST(YcConvert, SubsamplingAveragesTheCoveredPixelsOnly) {
    // 3x3 in 4:2:0: the last column and row of chroma cover one or two pixels.
    YcFrame frame;
    frame.Resize(3, 3, 5);
    const int16_t cb[3][3] = {{100, 200, 300}, {300, 400, 500}, {700, 800, 900}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) frame.Row(y)[x] = PIXEL_YC{0, cb[y][x], int16_t(-cb[y][x])};
    Picture picture;
    YcConverter converter({ColourModel::YCbCr, Chroma::k420, 16, true});
    converter.FromYc(frame, picture);
    YcFrame back;
    back.Resize(3, 3, 3);
    converter.ToYc(picture, back);
    const int16_t expected[3][3] = {{250, 250, 400}, {250, 250, 400}, {750, 750, 900}};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_NEAR(back.Row(y)[x].cb, expected[y][x], 1) << "pixel " << x << "," << y;
            EXPECT_NEAR(back.Row(y)[x].cr, -expected[y][x], 1) << "pixel " << x << "," << y;
        }
    }
}

}  // namespace

namespace {

// FromYc's arithmetic against the tables, over every 16-bit value of Y, Cb
// and Cr (odd multipliers walk them all) in every layout, range and depth,
// with odd sizes for the edge samples that cover fewer pixels.
TEST(YcConvert, FromYcMatchesTheTablesForEveryValue) {
    for (int depth : {8, 10, 12, 16}) {
        for (bool fullRange : {false, true}) {
            for (Chroma chroma : {Chroma::k420, Chroma::k422, Chroma::k444}) {
                for (auto [w, h] : {std::pair{331, 199}, std::pair{33, 17}, std::pair{1, 1}}) {
                    YcFrame frame;
                    frame.Resize(w, h, w + 5);
                    for (int y = 0; y < h; ++y) {
                        for (int x = 0; x < w; ++x) {
                            const int i = y * w + x;
                            frame.Row(y)[x] = PIXEL_YC{int16_t(i), int16_t(i * 7 + 3), int16_t(i * 13 + 5)};
                        }
                    }
                    const YcConverter converter({ColourModel::YCbCr, chroma, depth, fullRange});
                    Picture fast, tables;
                    converter.FromYc(frame, fast);
                    converter.FromYcByTables(frame, tables);
                    EXPECT_TRUE(fast.samples8 == tables.samples8 && fast.samples16 == tables.samples16)
                        << "depth " << depth << (fullRange ? " full" : " limited") << ", chroma " << int(chroma)
                        << ", " << w << "x" << h;
                }
            }
        }
    }
}

}  // namespace
