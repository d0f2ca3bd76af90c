// effects/kelo.fx against its header comment, evaluated here in double
// precision with the parameter vectors the plug-in sends for the tracks.
//
// Error bounds, in units of 1/4096 (one step of the host's values), between
// the pixel that comes back and the reference before its rounding to an
// integer (both saturated to -32768..32767):
// - single precision: 1/2 for the final rounding plus the device's float
//   arithmetic. Its relative error (a few ulps of 2^-24, and pow's
//   approximation on the device) acts on the largest intermediate value M
//   (of B, G, R after step 2), because Cb and Cr are differences of such
//   values: 1/2 + 4096 * M * 2^-17, at most 1 unit while M <= 16 (measured
//   on lavapipe over this grid: 0.52 at most on every unsaturated result).
// - half precision: the texels and the intermediate texture hold halves, so
//   the reference rounds the input (on the processor: to nearest even) and
//   pass 0's result to the nearest half. The device may round its writes to
//   half either way (Vulkan leaves round-to-nearest or toward zero to the
//   implementation), so the bound adds one half spacing of the result and,
//   through pass 1, one half spacing of each of pass 0's three components.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/d3d9_api.h"
#include "renderer/renderer.h"
#include "tests/e2e/plugin_session.h"

namespace {

std::string KeloFx() {
    std::ifstream file(KELO_EFFECT_FILE, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The vectors as the plug-in builds them, in float, for tracks t.
struct Vectors {
    double ycOffs[3], ycAmp[3];      // Y, Cb, Cr
    double bgrOffs[3], bgrAmp[3], bgrGamma[3];  // B, G, R
};

Vectors VectorsFor(const int32_t* t) {
    auto offset = [](int32_t v) { return double(float(v) * 0.00390625f); };
    auto gain = [](int32_t v) { return double(float(v + 256) * 0.00390625f); };
    auto gamma = [](int32_t v) { return double(float(std::pow(10.0, v / 256.0))); };
    return {{offset(t[0]), offset(t[2]), offset(t[4])},
            {gain(t[1]), gain(t[3]), gain(t[5])},
            {offset(t[12]), offset(t[9]), offset(t[6])},
            {gain(t[13]), gain(t[10]), gain(t[7])},
            {gamma(t[14]), gamma(t[11]), gamma(t[8])}};
}

// x rounded to the nearest half, ties to even; the spacing there.
double HalfSpacing(double x) {
    const double magnitude = std::fabs(x);
    if (magnitude < std::ldexp(1.0, -14)) return std::ldexp(1.0, -24);
    int exponent = 0;
    std::frexp(magnitude, &exponent);  // magnitude in [2^(e-1), 2^e)
    return std::ldexp(1.0, exponent - 11);
}
double ToHalf(double x) {
    const double spacing = HalfSpacing(x);
    return std::nearbyint(x / spacing) * spacing;
}

struct Result {
    double ycc[3];  // in units of 1/4096
    double largest;  // of |B|, |G|, |R| after step 2
};

// Pass 1 on a pass-0 result.
Result AdjustBgr(const Vectors& p, const double* ycc) {
    const double y = ycc[0], cb = ycc[1], cr = ycc[2];
    double bgr[3] = {y + 1.772 * cb, y - 0.344136286 * cb - 0.714136286 * cr, y + 1.402 * cr};
    Result result{{}, 0.0};
    for (int i = 0; i < 3; ++i) {
        const double v = bgr[i];
        const double sign = v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0;
        bgr[i] = sign * std::pow(std::fabs(v), p.bgrGamma[i]) * p.bgrAmp[i] + p.bgrOffs[i];
        result.largest = std::max(result.largest, std::fabs(bgr[i]));
    }
    const double luma = 0.299 * bgr[2] + 0.587 * bgr[1] + 0.114 * bgr[0];
    result.ycc[0] = luma * 4096;
    result.ycc[1] = (bgr[0] - luma) / 1.772 * 4096;
    result.ycc[2] = (bgr[2] - luma) / 1.402 * 4096;
    return result;
}

const char* const kComponent[3] = {"Y", "Cb", "Cr"};

double Saturate(double units) { return std::clamp(units, -32768.0, 32767.0); }

struct Expectation {
    double value[3];
    double tolerance[3];
};

Expectation Expect(const Vectors& p, const PIXEL_YC& pixel, bool half) {
    const int16_t in[3] = {pixel.y, pixel.cb, pixel.cr};
    double adjusted[3];
    for (int i = 0; i < 3; ++i) {
        const double texel = (half ? ThroughHalf(in[i]) : in[i]) / 4096.0;
        adjusted[i] = texel * p.ycAmp[i] + p.ycOffs[i];
        if (half) adjusted[i] = ToHalf(adjusted[i]);
    }
    const Result result = AdjustBgr(p, adjusted);
    Expectation expectation{};
    for (int i = 0; i < 3; ++i) {
        expectation.value[i] = Saturate(result.ycc[i]);
        expectation.tolerance[i] = 0.5 + 4096 * result.largest * std::ldexp(1.0, -17);
    }
    if (half) {
        // One half spacing of each intermediate component, through pass 1;
        // the three add up.
        double spread[3] = {};
        for (int j = 0; j < 3; ++j) {
            double largest[3] = {};
            for (double step : {-1.0, 1.0}) {
                double moved[3] = {adjusted[0], adjusted[1], adjusted[2]};
                moved[j] += step * HalfSpacing(adjusted[j]);
                const Result other = AdjustBgr(p, moved);
                for (int i = 0; i < 3; ++i) {
                    largest[i] = std::max(largest[i], std::fabs(other.ycc[i] - result.ycc[i]));
                }
            }
            for (int i = 0; i < 3; ++i) spread[i] += largest[i];
        }
        for (int i = 0; i < 3; ++i) {
            expectation.tolerance[i] +=
                spread[i] + 4096 * HalfSpacing(result.ycc[i] / 4096);
        }
    }
    return expectation;
}

// Inputs in the nominal ranges (Y 0..4096, Cb and Cr -2048..2048): their
// corners, then a spread of others.
HostFrame NominalFrame() {
    HostFrame frame = MakeHostFrame(64, 64);
    uint32_t state = 12345;
    auto next = [&state](int32_t low, int32_t high) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int16_t>(low + int32_t((state >> 8) % uint32_t(high - low + 1)));
    };
    int i = 0;
    for (int32_t y = 0; y < frame.h; ++y) {
        for (int32_t x = 0; x < frame.w; ++x, ++i) {
            if (i < 8) {
                frame.at(x, y) = {int16_t(i & 1 ? 4096 : 0), int16_t(i & 2 ? 2048 : -2048),
                                  int16_t(i & 4 ? 2048 : -2048)};
            } else {
                frame.at(x, y) = {next(0, 4096), next(-2048, 2048), next(-2048, 2048)};
            }
        }
    }
    return frame;
}

class KeloFxTest : public PluginTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        WriteEffect(KeloFx());
        ASSERT_TRUE(Init());
        check[kF16] = GetParam() ? 1 : 0;
    }

    // Sends the frame with the current tracks; compares with the reference.
    void Compare(const HostFrame& input, const std::string& setting) {
        HostFrame frame = input;
        ASSERT_TRUE(Proc(&frame)) << setting;
        const Vectors vectors = VectorsFor(track);
        int failures = 0;
        for (int32_t y = 0; y < frame.h; ++y) {
            for (int32_t x = 0; x < frame.w; ++x) {
                const Expectation e = Expect(vectors, input.at(x, y), GetParam());
                const PIXEL_YC& got = frame.at(x, y);
                const int16_t actual[3] = {got.y, got.cb, got.cr};
                for (int c = 0; c < 3; ++c) {
                    if (std::fabs(actual[c] - e.value[c]) <= e.tolerance[c]) continue;
                    if (failures++ < 5) {
                        const PIXEL_YC& in = input.at(x, y);
                        ADD_FAILURE() << setting << ": pixel (" << x << ", " << y << ") in ("
                                      << in.y << ", " << in.cb << ", " << in.cr
                                      << ") " << kComponent[c] << ": expected " << e.value[c] << " +- "
                                      << e.tolerance[c] << ", got " << actual[c];
                    }
                }
            }
        }
        for (int32_t y = 0; y < frame.max_h; ++y) {
            for (int32_t x = 0; x < frame.max_w; ++x) {
                if (x < frame.w && y < frame.h) continue;
                ASSERT_EQ(std::memcmp(&frame.at(x, y), &kPadding, sizeof kPadding), 0)
                    << setting << ": padding (" << x << ", " << y << ") written";
            }
        }
    }
};

std::string Describe(const int32_t* t) {
    std::string text = "tracks";
    for (int i = 0; i < KELO_TRACK_COUNT; ++i) text += " " + std::to_string(t[i]);
    return text;
}

TEST_P(KeloFxTest, EachTrackAloneMatchesTheReference) {
    const HostFrame input = NominalFrame();
    Compare(input, Describe(track));
    for (int i = 0; i < KELO_TRACK_COUNT; ++i) {
        for (int32_t value : {-256, -1, 1, 256}) {
            std::fill(std::begin(track), std::end(track), 0);
            track[i] = value;
            Compare(input, Describe(track));
        }
    }
}

TEST_P(KeloFxTest, CombinedTracksMatchTheReference) {
    const HostFrame input = NominalFrame();
    const int32_t settings[][KELO_TRACK_COUNT] = {
        {16, 32, -8, -20, 8, 20, 10, -30, 40, -10, 30, -40, 5, 15, 100},
        {-256, 256, 256, -256, -256, 256, 256, 256, 256, -256, -256, -256, 0, 128, -128},
        {0, 0, 0, 0, 0, 0, -64, 64, -200, -64, 64, -200, -64, 64, -200},
        {100, -100, 50, 200, -50, -200, 0, 0, 256, 0, 0, 256, 0, 0, 256},
    };
    for (const auto& setting : settings) {
        std::copy(std::begin(setting), std::end(setting), track);
        Compare(input, Describe(track));
    }
}

// Gains and exponents at their ends on the largest inputs: B, G, R reach
// about 41 and their tenth power 1.3e16, still a float; written as halves
// they become infinities, which come back saturated, never as NaN.
TEST_P(KeloFxTest, ExtremeInputsGiveNoNaNOrInfinity) {
    HostFrame input = MakeHostFrame(9, 3);
    const int16_t ends[3] = {-32768, 0, 32767};
    for (int i = 0; i < 27; ++i) input.at(i % 9, i / 9) = {ends[i % 3], ends[i / 3 % 3], ends[i / 9]};
    for (int32_t gamma : {256, -256}) {
        std::fill(std::begin(track), std::end(track), 256);
        for (int i : {8, 11, 14}) track[i] = gamma;
        Compare(input, Describe(track));

        D3DLOCKED_RECT locked{};
        ASSERT_EQ(g_renderer->texSys->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (int32_t y = 0; y < input.h; ++y) {
            for (int32_t x = 0; x < input.w; ++x) {
                float texel[4];
                const BYTE* row = static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch;
                if (GetParam()) {
                    D3DXFloat16To32Array(texel, reinterpret_cast<const D3DXFLOAT16*>(row) + 4 * x, 4);
                } else {
                    std::memcpy(texel, row + 16 * x, sizeof texel);
                }
                for (int c = 1; c < 4; ++c) {
                    EXPECT_FALSE(std::isnan(texel[c]))
                        << "gamma track " << gamma << ": texel (" << x << ", " << y << ") "
                        << kComponent[c - 1] << " is NaN";
                    if (!GetParam()) {
                        EXPECT_TRUE(std::isfinite(texel[c]))
                            << "gamma track " << gamma << ": texel (" << x << ", " << y << ") "
                            << kComponent[c - 1] << " is " << texel[c];
                    }
                }
            }
        }
        g_renderer->texSys->UnlockRect(0);
    }
}

// Y 0, Cr -0.5 is a red of -0.701: under either exponent it stays negative.
TEST_P(KeloFxTest, NegativeValueUnderGammaKeepsItsSign) {
    HostFrame input = MakeHostFrame(1, 1);
    input.at(0, 0) = {0, 0, -2048};
    for (int32_t gamma : {256, -256, 1}) {
        std::fill(std::begin(track), std::end(track), 0);
        track[8] = gamma;
        HostFrame frame = input;
        ASSERT_TRUE(Proc(&frame));
        const double red = frame.at(0, 0).y + 1.402 * frame.at(0, 0).cr;
        const double expected = -std::pow(0.701, VectorsFor(track).bgrGamma[2]) * 4096;
        EXPECT_LT(red, 0) << "R gamma track " << gamma;
        EXPECT_NEAR(red, expected, GetParam() ? 16 : 2) << "R gamma track " << gamma;
    }
}

INSTANTIATE_TEST_SUITE_P(Precision, KeloFxTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Half" : "Single"; });

}  // namespace
