// The processor check through its two inputs: the CPUID feature flags and the
// probe instruction run under the fault guard. The faults are the processor's
// own, so the Windows guard resumes from a real exception context, on 32 and
// 64 bits alike.
#include <gtest/gtest.h>

#include <csignal>

#include "renderer/renderer.h"

namespace {

constexpr DWORD kMmx = 1u << 23;
constexpr DWORD kSse = 1u << 25;
constexpr DWORD kSse2 = 1u << 26;

bool g_probeRan = false;

DWORD MmxOnly() { return kMmx; }
DWORD MmxAndSse() { return kMmx | kSse; }
DWORD Sse2Only() { return kSse2; }

void Completes() { g_probeRan = true; }
// In assembly, so that no sanitizer stops the fault before the processor does.
void IllegalInstruction() { __asm__ volatile("ud2"); }
void DivideFault() { __asm__ volatile("xorl %%ecx, %%ecx\n\tdivl %%ecx" ::: "eax", "ecx", "edx"); }
void AccessFault() { __asm__ volatile("movl 0, %%eax" ::: "eax", "memory"); }

TEST(DetectSimd, MmxWithoutSseFailsWithoutProbing) {
    g_probeRan = false;
    EXPECT_FALSE(DetectSimdUsing(MmxOnly, Completes));
    EXPECT_FALSE(g_probeRan);
}

TEST(DetectSimd, CompletedProbeSucceeds) {
    g_probeRan = false;
    EXPECT_TRUE(DetectSimdUsing(MmxAndSse, Completes));
    EXPECT_TRUE(g_probeRan);
    g_probeRan = false;
    EXPECT_TRUE(DetectSimdUsing(Sse2Only, Completes)) << "SSE2 alone also lets the probe decide";
    EXPECT_TRUE(g_probeRan);
}

TEST(DetectSimd, IllegalInstructionFails) {
    EXPECT_FALSE(DetectSimdUsing(MmxAndSse, IllegalInstruction));
}

TEST(DetectSimd, OtherFaultsSucceed) {
    EXPECT_TRUE(DetectSimdUsing(MmxAndSse, DivideFault));
    EXPECT_TRUE(DetectSimdUsing(MmxAndSse, AccessFault));
}

TEST(DetectSimd, GuardCatchesAgainAfterAFault) {
    EXPECT_FALSE(DetectSimdUsing(MmxAndSse, IllegalInstruction));
    g_probeRan = false;
    EXPECT_TRUE(DetectSimdUsing(MmxAndSse, Completes));
    EXPECT_TRUE(g_probeRan);
    EXPECT_FALSE(DetectSimdUsing(MmxAndSse, IllegalInstruction));
}

#ifndef _WIN32
int g_ownHandlerCalls = 0;
void OwnHandler(int) { ++g_ownHandlerCalls; }

TEST(DetectSimd, GuardRestoresTheProcessSignalHandlers) {
    auto previous = std::signal(SIGILL, OwnHandler);
    EXPECT_FALSE(DetectSimdUsing(MmxAndSse, IllegalInstruction));
    std::raise(SIGILL);
    std::signal(SIGILL, previous);
    EXPECT_EQ(g_ownHandlerCalls, 1);
}
#endif

TEST(DetectSimd, ThisProcessorRunsTheVectorRoutines) { EXPECT_TRUE(DetectSimd()); }

}  // namespace
