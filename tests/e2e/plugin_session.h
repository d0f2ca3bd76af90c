// The plug-in driven as the host drives it, on the Vulkan stand-in with the
// validation layers watching: its own FilterInit / FilterProc / FilterExit,
// the effect file "kelo.fx" in a temporary current directory, host frames
// with padding around them that must stay untouched.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/plugin.h"

// A host frame: w x h pixels in a buffer of max_w x max_h, rows max_w apart.
struct HostFrame {
    int32_t w = 0;
    int32_t h = 0;
    int32_t max_w = 0;
    int32_t max_h = 0;
    std::vector<PIXEL_YC> pixels;

    PIXEL_YC& at(int32_t x, int32_t y) { return pixels[size_t(y) * max_w + x]; }
    const PIXEL_YC& at(int32_t x, int32_t y) const { return pixels[size_t(y) * max_w + x]; }
};

// What the padding holds; the plug-in must never write it.
constexpr PIXEL_YC kPadding = {0x5A5A, -0x2B2B, 0x1717};

// A frame with padding on the right and below, every pixel kPadding.
HostFrame MakeHostFrame(int32_t w, int32_t h);
// Pixel i (in row order) holds Y = i, Cb = i + 21845, Cr = i + 43690, wrapped
// to 16 bits: every value of -32768..32767 in each component once per 65,536
// pixels, at a different pixel for each component.
void FillEveryValue(HostFrame* frame);
// Names the first pixels where the frames differ, frame and padding alike.
::testing::AssertionResult SamePixels(const HostFrame& expected, const HostFrame& actual);

// The current directory is a fresh temporary folder for the test's effect
// files; the previous one comes back at the end.
class PluginTest : public ::testing::Test {
protected:
    PluginTest();
    ~PluginTest() override;
    void SetUp() override;
    void TearDown() override;

    void WriteEffect(const std::string& text, const char* name = "kelo.fx");
    // FilterInit with the effect already written; the tests run with Vulkan
    // validation unless they switch it off for a measurement.
    bool Init(bool validated = true);
    void Exit();
    // FilterProc with the record's current tracks and checks.
    bool Proc(HostFrame* frame);

    static constexpr int kF16 = 0;
    static constexpr int kPow2 = 1;
    int32_t track[KELO_TRACK_COUNT] = {};
    int32_t check[KELO_CHECK_COUNT] = {};
    FILTER filter{};

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
    uint32_t messagesBefore_ = 0;
    bool initialised_ = false;
};

// A 16-bit value through a half texel (value / 4096) and back: halves carry
// 11 significant bits, so above 2047 in magnitude the value goes to the
// nearest multiple of its half's spacing, ties to the even multiple; 8.0
// (32768) saturates to 32767 on the way back.
int16_t ThroughHalf(int16_t value);
