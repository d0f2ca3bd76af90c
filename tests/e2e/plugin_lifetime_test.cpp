// Everything the plug-in makes between FilterInit and FilterExit goes away
// at FilterExit: Vulkan objects (the validation layer reports any left) and
// memory over many start-ups.
#include <cstdlib>
#include <string>

#include "platform/d3d9/vulkan_validation.h"
#include "tests/device/memory_use.h"
#include "tests/e2e/plugin_session.h"

namespace {

constexpr char kEffect[] = R"(
float4 ycAmp = {0, 1, 1, 1};
texture txTgt;
texture txTmp;
sampler sTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; };
sampler sTmp = sampler_state { Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; };
float4 Scale(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTgt, uv) * ycAmp; }
float4 Copy(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTmp, uv); }
technique ColorCorrection {
    pass { PixelShader = compile ps_2_0 Scale(); }
    pass { PixelShader = compile ps_2_0 Copy(); }
}
)";

class PluginLifetimeTest : public PluginTest {
protected:
    // Start-up, frames in both precisions, with and without "pow2", a moved
    // track, shut-down. Each cycle starts at the size and check boxes the
    // previous one ended with, which the frame driver remembers across
    // start-ups; at 64 rows a leaked texture would hold 16 KiB or more per
    // cycle.
    void Cycle(int32_t width, bool validated = true) {
        ASSERT_TRUE(Init(validated));
        for (int32_t f16 : {1, 0, 1}) {
            check[kF16] = f16;
            check[kPow2] = f16;
            track[1] = f16 * 10;
            HostFrame frame = MakeHostFrame(width, 64);
            ASSERT_TRUE(Proc(&frame)) << "width " << width << " F16 " << f16;
        }
        Exit();
    }
};

TEST_F(PluginLifetimeTest, ShutDownLeavesNothingForValidationToReport) {
    WriteEffect(kEffect);
    const uint32_t before = VulkanValidationMessageCount();
    Cycle(33);
    Cycle(33);
    EXPECT_EQ(VulkanValidationMessageCount(), before)
        << "Vulkan validation reported objects or errors (see stderr)";
}

TEST_F(PluginLifetimeTest, HundredStartUpsKeepMemoryFlat) {
    WriteEffect(kEffect);
    Cycle(64);
    // Validation's own bookkeeping would dominate the measurement.
    const char* validation = std::getenv("KELO_VULKAN_VALIDATION");
    const std::string saved = validation != nullptr ? validation : "";
    setenv("KELO_VULKAN_VALIDATION", "0", 1);
    for (int i = 0; i < 4; ++i) Cycle(64, false);  // let the driver's caches fill
    long before = MemoryInUseKilobytes();
    for (int i = 0; i < 100; ++i) Cycle(64, false);
    const long growth = MemoryInUseKilobytes() - before;
    setenv("KELO_VULKAN_VALIDATION", saved.c_str(), 1);

    before = MemoryInUseKilobytes();
    for (int i = 0; i < 100; ++i) DriverOnlyCycle();
    const long driverGrowth = MemoryInUseKilobytes() - before;
    // Measured: about 90 KiB, of which the driver's own cycles take 20.
    EXPECT_LT(growth - driverGrowth, 512)
        << "memory in use grew by " << growth << " KiB in 100 start-ups, the driver's own "
        << driverGrowth << " KiB";
}

}  // namespace
