// The scopes' and the probe's answers, from kept pictures, without a socket.
#include <gtest/gtest.h>

#include "host/preview/preview_tools.h"

namespace {

std::shared_ptr<const YcFrame> Frame(int width, int height, PIXEL_YC fill) {
    auto frame = std::make_shared<YcFrame>();
    frame->Resize(width, height, width + 64);
    for (int y = 0; y < height; ++y) std::fill_n(frame->Row(y), width, fill);
    return frame;
}

TEST(PreviewTools, TheProbeReadsEachShownPictureAtTheSamePlaceOfTheFrame) {
    ShownPictures shown(8, 4, 2);
    // The full picture with a super-white pixel, and a reduced one of half
    // the size whose pixel (3, 1) covers it.
    auto full = std::make_shared<YcFrame>(*Frame(8, 4, PIXEL_YC{2048, 0, 0}));
    full->Row(3)[6] = PIXEL_YC{4451, -100, 300};
    const uint64_t after = shown.Add(full);
    const uint64_t before = shown.Add(Frame(4, 2, PIXEL_YC{4096, 0, 0}), false);
    const YcConverter eightBit(PictureFormat{ColourModel::Rgb, Chroma::k444, 8, false});
    const Answer answer = ProbeAnswer(
        {{"token", "t"}, {"x", "6"}, {"y", "3"}, {"after", std::to_string(after)}, {"before", std::to_string(before)}},
        shown, eightBit);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.contentType, "application/json");
    // R' = (4451 + 1.402 * 300) / 4096 and B' = (4451 - 1.772 * 100) / 4096
    // are above 1: the output's codes stop at 255.
    EXPECT_EQ(answer.body,
              "{\"x\":6,\"y\":3,"
              "\"after\":{\"width\":8,\"height\":4,\"px\":6,\"py\":3,\"Y\":4451,\"Cb\":-100,\"Cr\":300,"
              "\"rgb\":[255,255,255],\"bits\":8},"
              "\"before\":{\"width\":4,\"height\":2,\"px\":3,\"py\":1,\"Y\":4096,\"Cb\":0,\"Cr\":0,"
              "\"rgb\":[255,255,255],\"bits\":8}}");
    const YcConverter sixteenBit(PictureFormat{ColourModel::Rgb, Chroma::k444, 16, false});
    const Answer deep = ProbeAnswer({{"x", "0"}, {"y", "0"}, {"after", std::to_string(after)}}, shown, sixteenBit);
    EXPECT_NE(deep.body.find("\"rgb\":[32768,32768,32768],\"bits\":16}"), std::string::npos) << deep.body;

    const struct {
        QueryParameters parameters;
        int status;
        std::string reason;
    } refused[] = {
        {{{"x", "8"}, {"y", "0"}, {"after", "1"}}, 400, "x=8: expected a whole number from 0 to 7\n"},
        {{{"x", "-1"}, {"y", "0"}, {"after", "1"}}, 400, "x=-1: expected a whole number from 0 to 7\n"},
        {{{"x", "1"}, {"after", "1"}}, 400, "the parameter \"y\" is missing\n"},
        {{{"x", "1"}, {"y", "1"}}, 400, "the probe needs after=N or before=N, the pictures shown\n"},
        {{{"x", "1"}, {"y", "1"}, {"after", "1x"}}, 400, "after=1x: expected a whole number from 1 to"},
        {{{"x", "1"}, {"x", "2"}, {"y", "1"}, {"after", "1"}}, 400, "the parameter \"x\" is given twice\n"},
        {{{"x", "1"}, {"y", "1"}, {"after", "1"}, {"file", "/etc/passwd"}}, 400, "unknown parameter \"file\"\n"},
        {{{"x", "1"}, {"y", "1"}, {"after", "99"}}, 410, "picture 99 is no longer kept; ask for a newer one\n"},
    };
    for (const auto& c : refused) {
        const Answer a = ProbeAnswer(c.parameters, shown, eightBit);
        EXPECT_EQ(a.status, c.status) << c.reason;
        EXPECT_EQ(a.body.compare(0, c.reason.size(), c.reason), 0) << a.body;
    }
    // Only the last two pictures of each view are kept.
    shown.Add(Frame(8, 4, PIXEL_YC{}));
    shown.Add(Frame(8, 4, PIXEL_YC{}));
    const QueryParameters both{{"x", "1"}, {"y", "1"}, {"after", std::to_string(after)}, {"before", std::to_string(before)}};
    EXPECT_EQ(ProbeAnswer(both, shown, eightBit).body, "picture 1 is no longer kept; ask for a newer one\n");
    EXPECT_EQ(ProbeAnswer({{"x", "1"}, {"y", "1"}, {"before", std::to_string(before)}}, shown, eightBit).status, 200);
}

TEST(PreviewTools, ScopesComeAsOnePictureWithThePanelsPlaces) {
    ShownPictures shown(8, 4);
    const uint64_t id = shown.Add(Frame(8, 4, PIXEL_YC{1000, 0, 0}));
    const Answer answer = ScopesAnswer({{"token", "t"}, {"picture", std::to_string(id)}}, shown);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.contentType, "image/png");
    EXPECT_EQ(answer.body.compare(0, 4, "\x89PNG"), 0);
    bool panels = false;
    for (const auto& [name, value] : answer.headers) panels |= name == "X-Kelo-Scope-Panels" && value.starts_with("0 ");
    EXPECT_TRUE(panels);
    EXPECT_EQ(ScopesAnswer({{"picture", "0"}}, shown).status, 400);
    EXPECT_EQ(ScopesAnswer({}, shown).body, "the parameter \"picture\" is missing\n");
    EXPECT_EQ(ScopesAnswer({{"picture", "2"}}, shown).status, 410);
    EXPECT_EQ(ScopesAnswer({{"picture", "1"}, {"view", "after"}}, shown).status, 200);
    EXPECT_EQ(ScopesAnswer({{"picture", "1"}, {"view", "sideways"}}, shown).body, "view=sideways: expected after or before\n");
}

}  // namespace
