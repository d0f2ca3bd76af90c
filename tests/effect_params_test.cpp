// The five parameter vectors made from the fifteen track values.
#include <cmath>

#include "tests/fakes/plugin_harness.h"

namespace {

using testing::_;
using testing::Return;
using testing::StrEq;

class EffectParamsTest : public PluginTest {
protected:
    void SetUp() override { ASSERT_TRUE(Start()); }

    void ExpectVector(const char* name, float x, float y, float z, float w) {
        ASSERT_EQ(gpu.vectors.count(name), 1u) << name << " was not set";
        const D3DXVECTOR4& v = gpu.vectors[name];
        EXPECT_EQ(v.x, x) << name << ".x";
        EXPECT_EQ(v.y, y) << name << ".y";
        EXPECT_EQ(v.z, z) << name << ".z";
        EXPECT_EQ(v.w, w) << name << ".w";
    }
};

TEST_F(EffectParamsTest, DefaultTracksGiveTheIdentity) {
    EXPECT_TRUE(SetEffectParams(track));
    ExpectVector("ycOffs", 0, 0, 0, 0);
    ExpectVector("ycAmp", 0, 1, 1, 1);
    ExpectVector("bgrOffs", 0, 0, 0, 0);
    ExpectVector("bgrAmp", 0, 1, 1, 1);
    ExpectVector("bgrGamma", 1, 1, 1, 1);
}

TEST_F(EffectParamsTest, ExtremeAndHalfwayTracks) {
    track[8] = 256;    // R(gamm)
    track[13] = -256;  // B(gain)
    track[0] = 128;    // Y(offs)
    EXPECT_TRUE(SetEffectParams(track));
    ExpectVector("bgrGamma", 1, 1, 1, 10);
    ExpectVector("bgrAmp", 0, 0, 1, 1);
    ExpectVector("ycOffs", 0, 0.5f, 0, 0);
}

TEST_F(EffectParamsTest, EachTrackFeedsItsComponent) {
    for (int i = 0; i < KELO_TRACK_COUNT; ++i) track[i] = 16 * (i + 1) - 128;  // distinct values
    auto offset = [this](int i) { return track[i] / 256.0f; };
    auto gain = [this](int i) { return (track[i] + 256) / 256.0f; };
    auto gamma = [this](int i) { return static_cast<float>(std::pow(10.0, track[i] / 256.0)); };
    EXPECT_TRUE(SetEffectParams(track));
    ExpectVector("ycOffs", 0, offset(0), offset(2), offset(4));
    ExpectVector("ycAmp", 0, gain(1), gain(3), gain(5));
    ExpectVector("bgrOffs", 0, offset(12), offset(9), offset(6));
    ExpectVector("bgrAmp", 0, gain(13), gain(10), gain(7));
    ExpectVector("bgrGamma", 1, gamma(14), gamma(11), gamma(8));
}

TEST_F(EffectParamsTest, LooksUpInOrderAndSetsOnlyDeclaredParameters) {
    gpu.parameters = {"ycAmp"};
    {
        testing::InSequence order;
        for (const char* name : {"ycOffs", "ycAmp", "bgrOffs", "bgrAmp", "bgrGamma"})
            EXPECT_CALL(gpu.effect, GetParameterByName(nullptr, StrEq(name)));
    }
    EXPECT_TRUE(SetEffectParams(track));
    EXPECT_EQ(gpu.vectorsSet, 1);
    EXPECT_EQ(gpu.vectors.count("ycAmp"), 1u);
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(EffectParamsTest, AFailedVectorIsReportedAndTheOthersAreStillSet) {
    ON_CALL(gpu.effect, SetVector(StrEq("ycAmp"), _)).WillByDefault(Return(E_FAIL));
    EXPECT_TRUE(SetEffectParams(track));
    EXPECT_EQ(gpu.vectorsSet, 4);
    EXPECT_EQ(log.Reports().size(), 1u);
}

TEST_F(EffectParamsTest, NoTracksOrNoEffectSetsNothing) {
    EXPECT_FALSE(SetEffectParams(nullptr));
    ID3DXEffect* effect = g_renderer->effect;
    g_renderer->effect = nullptr;
    EXPECT_FALSE(SetEffectParams(track));
    g_renderer->effect = effect;
    EXPECT_EQ(gpu.vectorsSet, 0);
}

}  // namespace
