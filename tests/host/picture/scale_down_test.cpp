// The preview's reduced pictures: the mean of what each pixel covers, and
// the proportions kept.
#include <gtest/gtest.h>

#include "host/picture/scale_down.h"

namespace {

TEST(ScaleDown, EachPixelIsTheMeanOfTheBlockItCoversRoundedAwayFromZero) {
    YcFrame source;
    source.Resize(6, 4, 9);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) source.Row(y)[x] = PIXEL_YC{int16_t(100 * x + y), int16_t(-x), int16_t(x == 1 ? 4 : 0)};
    YcFrame reduced;
    ScaleDown(source, 3, 5, reduced);
    ASSERT_EQ(reduced.width, 3);
    ASSERT_EQ(reduced.height, 2);
    EXPECT_EQ(reduced.pitch, 8);
    // The top-left block: x 0..1, y 0..1. Y (0 + 100 + 1 + 101) / 4 = 50.5,
    // Cb -2 / 4 = -0.5 and Cr 8 / 4 = 2 round away from zero.
    EXPECT_EQ(reduced.Row(0)[0].y, 51);
    EXPECT_EQ(reduced.Row(0)[0].cb, -1);
    EXPECT_EQ(reduced.Row(0)[0].cr, 2);
    EXPECT_EQ(reduced.Row(1)[2].y, 453);  // x 4..5, y 2..3: (402 + 403 + 502 + 503) / 4
    // A width beyond the source's is the source's; a 1080p frame to 960
    // keeps 16:9.
    ScaleDown(source, 50, 0, reduced);
    EXPECT_EQ(reduced.width, 6);
    EXPECT_EQ(reduced.Row(3)[5].y, 503);
    source.Resize(1920, 1080, 1984);
    ScaleDown(source, 960, 64, reduced);
    EXPECT_EQ(reduced.height, 540);
}

}  // namespace
