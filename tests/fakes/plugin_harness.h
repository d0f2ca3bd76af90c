// The host's side of a test: a filter record with track and check arrays, the
// doubles of the whole Direct3D world, and a report log. The driver's globals
// start from zero as after loading.
#pragma once

#include <gtest/gtest.h>

#include "plugin/plugin.h"
#include "renderer/renderer.h"
#include "tests/fakes/fake_gpu.h"
#include "tests/fakes/report_log.h"

class PluginHarness {
public:
    FakeGpu gpu;
    ReportLog log;
    int32_t track[KELO_TRACK_COUNT] = {};
    int32_t check[KELO_CHECK_COUNT] = {};
    FILTER filter = {};

    PluginHarness() {
        filter.track = track;
        filter.check = check;
        filter.hwnd = reinterpret_cast<HWND>(0x4D2);
        std::memset(g_lastTrack, 0, sizeof g_lastTrack);
        std::memset(g_lastCheck, 0, sizeof g_lastCheck);
        g_lastWidth = g_lastHeight = g_lastPitch = 0;
        g_frameResourcesGone = false;
    }

    bool Start() { return FilterInit(&filter) != FALSE; }

    // Builds for a width × height frame as the driver would after a change.
    bool Build(int32_t width, int32_t height, bool usePow2 = false, bool useF16 = false,
               int32_t pitch = -1) {
        g_lastWidth = width;
        g_lastHeight = height;
        return BuildFrameResources(usePow2, pitch < 0 ? width : pitch, useF16);
    }
};

// Every test ends with shut-down and checks that nothing handed out leaked.
class PluginTest : public testing::Test, public PluginHarness {
protected:
    void TearDown() override {
        FilterExit(&filter);
        gpu.ExpectEverythingReleased();
    }
};
