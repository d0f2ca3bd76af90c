// The frame driver's decisions: what a change of tracks, check boxes, frame
// size or row length rebuilds or re-sends, and which frames come back false.
#include <algorithm>

#include "tests/fakes/plugin_harness.h"

namespace {

using testing::_;
using testing::Return;

class FrameDriverTest : public PluginTest {
protected:
    std::vector<PIXEL_YC> pixels = std::vector<PIXEL_YC>(8192 * 4, PIXEL_YC{100, -20, 30});
    FILTER_PROC_INFO info = {};
    int builds = 0;

    void SetUp() override {
        ASSERT_TRUE(Start());
        ON_CALL(gpu.device, CreateVertexBuffer(_, _, _, _, _, _))
            .WillByDefault([this](UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** out,
                                  HANDLE*) {
                ++builds;
                gpu.vertexBuffer.AddRef();
                *out = &gpu.vertexBuffer;
                return S_OK;
            });
    }

    bool Frame(int32_t width, int32_t height, int32_t maxWidth = -1) {
        maxWidth = maxWidth < 0 ? width : maxWidth;
        const size_t needed = static_cast<size_t>(std::max(maxWidth, 0)) * std::max(height, 0);
        if (pixels.size() < needed) pixels.resize(needed, PIXEL_YC{100, -20, 30});
        info.ycp_edit = pixels.data();
        info.w = width;
        info.h = height;
        info.max_w = maxWidth;
        return FilterProc(&filter, &info) != FALSE;
    }
    int ParameterSends() const { return gpu.vectorsSet / 5; }
};

TEST_F(FrameDriverTest, FirstFrameBuildsAndSendsThenUnchangedFramesDoNothingMore) {
    EXPECT_TRUE(Frame(1920, 1080));
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(ParameterSends(), 1);
    EXPECT_TRUE(Frame(1920, 1080));
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(ParameterSends(), 1);
}

TEST_F(FrameDriverTest, TrackChangeOnlyResendsTheParameters) {
    ASSERT_TRUE(Frame(64, 32));
    track[7] = 40;
    EXPECT_TRUE(Frame(64, 32));
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(ParameterSends(), 2);
    EXPECT_EQ(gpu.vectors["bgrAmp"].w, 296 / 256.0f);
}

TEST_F(FrameDriverTest, CheckChangeRebuildsInTheNewFormatAtTheSameSize) {
    ASSERT_TRUE(Frame(64, 32));
    check[0] = 1;
    check[1] = 1;
    EXPECT_TRUE(Frame(64, 32));
    EXPECT_EQ(builds, 2);
    EXPECT_EQ(ParameterSends(), 2);
    EXPECT_EQ(g_renderer->useF16, 1);
    EXPECT_EQ(g_renderer->texWidth, 64);
    EXPECT_EQ(gpu.textures.back().format, D3DFMT_A16B16G16R16F);
}

TEST_F(FrameDriverTest, HeightChangeAloneRebuilds) {
    ASSERT_TRUE(Frame(64, 32));
    EXPECT_TRUE(Frame(64, 33));
    EXPECT_EQ(builds, 2);
    EXPECT_EQ(g_renderer->height, 33);
}

TEST_F(FrameDriverTest, SizeAndTrackChangeTogetherBuildOnceAndSendOnce) {
    ASSERT_TRUE(Frame(64, 32));
    track[0] = 64;
    EXPECT_TRUE(Frame(128, 32));
    EXPECT_EQ(builds, 2);
    EXPECT_EQ(ParameterSends(), 2);
    EXPECT_EQ(gpu.vectors["ycOffs"].y, 0.25f);
}

TEST_F(FrameDriverTest, RowLengthChangeAloneRebuildsWithTheHostsPitch) {
    ASSERT_TRUE(Frame(64, 32, 80));
    EXPECT_TRUE(Frame(64, 32, 72));
    EXPECT_EQ(builds, 2);
    EXPECT_EQ(g_renderer->pitch, 72) << "a shrunk row length";
    EXPECT_TRUE(Frame(64, 32, 96));
    EXPECT_EQ(builds, 3);
    EXPECT_EQ(g_renderer->pitch, 96) << "a grown row length";
}

TEST_F(FrameDriverTest, UnbuildableSizesFailEveryFrameWithoutRetryOrReport) {
    const std::vector<PIXEL_YC> before = pixels;
    for (int frame = 0; frame < 2; ++frame) {
        EXPECT_FALSE(Frame(4097, 2)) << "frame " << frame;
    }
    EXPECT_FALSE(Frame(64, 2, 63)) << "row length below the width";
    EXPECT_FALSE(Frame(64, 2, 63));
    EXPECT_EQ(builds, 0);
    EXPECT_TRUE(gpu.textures.empty());
    EXPECT_TRUE(log.Reports().empty());
    EXPECT_EQ(std::memcmp(pixels.data(), before.data(), pixels.size() * sizeof(PIXEL_YC)), 0);
}

// An empty frame has no rows to walk, so its row length is no change.
TEST_F(FrameDriverTest, EmptyFirstFrameMatchesTheStoredSizeAndFailsWhateverItsRowLength) {
    for (const int32_t maxWidth : {64, 0, 100}) EXPECT_FALSE(Frame(0, 0, maxWidth)) << "max_w " << maxWidth;
    EXPECT_EQ(builds, 0);
    EXPECT_EQ(ParameterSends(), 0);
    EXPECT_TRUE(gpu.textures.empty());
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(FrameDriverTest, FailedBuildIsRetriedWithTheNextChange) {
    gpu.failTexture = 1;
    EXPECT_FALSE(Frame(64, 32));
    EXPECT_FALSE(Frame(64, 32));
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(log.Reports().size(), 1u) << "one report for the one failed build";
    check[1] = 1;
    EXPECT_TRUE(Frame(64, 32));
    EXPECT_EQ(builds, 2);
}

TEST_F(FrameDriverTest, ARestartRebuildsOnceAtTheSameSizeAndSettings) {
    ASSERT_TRUE(Frame(64, 32));
    FilterExit(&filter);
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Frame(64, 32));
    EXPECT_TRUE(Frame(64, 32));
    EXPECT_EQ(builds, 2);

    // A build that fails after a restart waits for a change, as any other.
    FilterExit(&filter);
    ASSERT_TRUE(Start());
    gpu.failTexture = static_cast<int>(gpu.textures.size()) + 1;
    EXPECT_FALSE(Frame(64, 32));
    EXPECT_FALSE(Frame(64, 32));
    EXPECT_EQ(builds, 3);
}

TEST_F(FrameDriverTest, FailedPassesFailTheFrame) {
    ASSERT_TRUE(Frame(64, 32));
    gpu.surfaceFailure = D3DERR_DEVICELOST;
    EXPECT_FALSE(Frame(64, 32));
}

class FrameDriverWithoutEffectTest : public FrameDriverTest {
protected:
    void SetUp() override {
        ON_CALL(gpu.entry, D3DXCreateEffectFromFileW(_, _, _, _, _, _, _, _))
            .WillByDefault(Return(E_FAIL));
        EXPECT_FALSE(Start());
    }
};

TEST_F(FrameDriverWithoutEffectTest, EveryFrameFailsUntouched) {
    const std::vector<PIXEL_YC> before = pixels;
    EXPECT_FALSE(Frame(64, 32));
    track[0] = 5;
    EXPECT_FALSE(Frame(64, 32));
    EXPECT_TRUE(gpu.textures.empty());
    EXPECT_EQ(std::memcmp(pixels.data(), before.data(), pixels.size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(FrameDriverTest, NoRendererNoFrame) {
    FilterExit(&filter);
    EXPECT_FALSE(Frame(64, 32));
    EXPECT_EQ(g_lastWidth, 0) << "nothing is noted without a renderer";
}

}  // namespace
