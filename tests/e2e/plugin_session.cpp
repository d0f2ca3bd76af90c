#include "tests/e2e/plugin_session.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/d3d9/vulkan_validation.h"

HostFrame MakeHostFrame(int32_t w, int32_t h) {
    HostFrame frame{w, h, w + 3, h + 2, {}};
    frame.pixels.assign(size_t(frame.max_w) * frame.max_h, kPadding);
    return frame;
}

void FillEveryValue(HostFrame* frame) {
    uint32_t i = 0;
    for (int32_t y = 0; y < frame->h; ++y) {
        for (int32_t x = 0; x < frame->w; ++x, ++i) {
            frame->at(x, y) = {static_cast<int16_t>(i), static_cast<int16_t>(i + 21845),
                               static_cast<int16_t>(i + 43690)};
        }
    }
}

::testing::AssertionResult SamePixels(const HostFrame& expected, const HostFrame& actual) {
    if (expected.pixels.size() != actual.pixels.size()) {
        return ::testing::AssertionFailure() << "buffers of different sizes";
    }
    size_t differences = 0;
    ::testing::AssertionResult result = ::testing::AssertionFailure();
    for (int32_t y = 0; y < expected.max_h; ++y) {
        for (int32_t x = 0; x < expected.max_w; ++x) {
            const PIXEL_YC& want = expected.at(x, y);
            const PIXEL_YC& got = actual.at(x, y);
            if (std::memcmp(&want, &got, sizeof want) == 0) continue;
            if (differences++ < 8) {
                result << (x < expected.w && y < expected.h ? "pixel (" : "padding (") << x
                       << ", " << y << "): expected (" << want.y << ", " << want.cb << ", "
                       << want.cr << "), got (" << got.y << ", " << got.cb << ", " << got.cr
                       << ")\n";
            }
        }
    }
    if (differences == 0) return ::testing::AssertionSuccess();
    return result << differences << " pixels differ";
}

int16_t ThroughHalf(int16_t value) {
    const int32_t magnitude = std::abs(int32_t{value});
    int32_t spacing = 1;
    while ((magnitude >> 11) >= spacing) spacing *= 2;
    const int32_t below = magnitude / spacing * spacing;
    const int32_t rest = magnitude - below;
    int32_t rounded = below;
    if (rest * 2 > spacing || (rest * 2 == spacing && (below / spacing) % 2 == 1)) {
        rounded += spacing;
    }
    const int32_t result = value < 0 ? -rounded : rounded;
    return static_cast<int16_t>(result > 32767 ? 32767 : result);
}

PluginTest::PluginTest() {
    filter.track_n = KELO_TRACK_COUNT;
    filter.check_n = KELO_CHECK_COUNT;
    filter.track = track;
    filter.check = check;
    filter.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
}

PluginTest::~PluginTest() = default;

void PluginTest::SetUp() {
    messagesBefore_ = VulkanValidationMessageCount();
    previous_ = std::filesystem::current_path();
    folder_ = std::filesystem::temp_directory_path() /
              ("kelo-e2e-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
    // The frame driver remembers the last frame for the life of the process;
    // each test starts as a freshly loaded plug-in does.
    std::memset(g_lastTrack, 0, sizeof g_lastTrack);
    std::memset(g_lastCheck, 0, sizeof g_lastCheck);
    g_lastWidth = g_lastHeight = g_lastPitch = 0;
    g_frameResourcesGone = false;
}

void PluginTest::TearDown() {
    Exit();
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
    EXPECT_EQ(VulkanValidationMessageCount(), messagesBefore_)
        << "Vulkan validation reported problems (see stderr)";
}

void PluginTest::WriteEffect(const std::string& text, const char* name) {
    std::ofstream(name, std::ios::binary) << text;
}

bool PluginTest::Init(bool validated) {
    initialised_ = true;
    if (FilterInit(&filter) == FALSE) return false;
    EXPECT_EQ(VulkanValidationActive(), validated) << "Vulkan validation on";
    return true;
}

void PluginTest::Exit() {
    if (!initialised_) return;
    initialised_ = false;
    EXPECT_EQ(FilterExit(&filter), TRUE);
    EXPECT_EQ(g_renderer, nullptr);
    EXPECT_EQ(g_device, nullptr);
    EXPECT_EQ(g_d3d, nullptr);
}

bool PluginTest::Proc(HostFrame* frame) {
    FILTER_PROC_INFO info{};
    info.ycp_edit = frame->pixels.data();
    info.w = frame->w;
    info.h = frame->h;
    info.max_w = frame->max_w;
    info.max_h = frame->max_h;
    info.frame_n = 1;
    return FilterProc(&filter, &info) != FALSE;
}
