#include <gtest/gtest.h>

#include <cstring>

#include "host/filter/probe.h"

namespace {

TEST(ProbeFrame, FillsThePictureWithinTheExactHalfFloatRangeAndThePaddingApart) {
    const YcFrame frame = ProbeFrame(kProbeWidth, kProbeHeight, kProbeRowLength);
    ASSERT_EQ(frame.pixels.size(), size_t(kProbeRowLength * kProbeHeight));
    for (int y = 0; y < kProbeHeight; ++y) {
        for (int x = 0; x < kProbeRowLength; ++x) {
            const PIXEL_YC& p = frame.Row(y)[x];
            if (x < kProbeWidth) {
                EXPECT_TRUE(p.y >= 0 && p.y + 512 < 2048) << "pixel " << x << "," << y << " Y " << p.y;
                EXPECT_TRUE(p.cb >= -1024 && p.cb < 1024) << "pixel " << x << "," << y << " Cb " << p.cb;
                EXPECT_TRUE(p.cr >= -1024 && p.cr < 1024) << "pixel " << x << "," << y << " Cr " << p.cr;
            } else {
                EXPECT_LT(p.y, -2048) << "padding " << x << "," << y << " looks like a picture value";
            }
        }
    }
}

TEST(CompareFrames, CountsChangedPixelsByDeltaAndChangedPaddingBytes) {
    const YcFrame before = ProbeFrame(5, 3, 7);
    YcFrame after = before;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) after.Row(y)[x].y += 16;
    }
    after.Row(1)[2].cr -= 1;
    reinterpret_cast<unsigned char*>(after.Row(2) + 6)[5] ^= 1;  // the last byte of the last row

    const FrameChanges changes = CompareFrames(before, after);
    EXPECT_EQ(changes.pixelsChanged, 15);
    EXPECT_EQ(changes.paddingChanged, 1);
    ASSERT_EQ(changes.deltas.size(), 2u);
    EXPECT_EQ(FormatProcRecord(true, changes),
              "proc\t1\tpixels-changed 15\tpadding-changed 1\n"
              "change\t+16 +0 +0\tpixels 14\n"
              "change\t+16 +0 -1\tpixels 1\n");
}

TEST(CompareFrames, FindsNothingInAnUntouchedFrame) {
    const YcFrame frame = ProbeFrame(kProbeWidth, kProbeHeight, kProbeRowLength);
    EXPECT_EQ(FormatProcRecord(false, CompareFrames(frame, frame)),
              "proc\t0\tpixels-changed 0\tpadding-changed 0\n");
}

TEST(EscapeField, KeepsEachItemOnOneLineAndUtf8Unchanged) {
    EXPECT_EQ(EscapeField("a\\b\tc\nd\r\x7F"), "a\\\\b\\tc\\nd\\x0D\\x7F");
    EXPECT_EQ(EscapeField("エフェクト"), "エフェクト");
}

}  // namespace
