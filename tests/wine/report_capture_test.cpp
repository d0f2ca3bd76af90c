#include <gtest/gtest.h>

#include <algorithm>

#include "host/filter/pe_imports.h"
#include "host/filter/report_capture.h"

namespace {

class ReportCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        probe_ = LoadLibraryW(L"kelo_report_probe.dll");
        ASSERT_NE(probe_, nullptr) << "kelo_report_probe.dll next to the test";
        debugOutput_ = reinterpret_cast<DebugOutputFn>(
            reinterpret_cast<void*>(GetProcAddress(probe_, "ProbeDebugOutput")));
        report_ = reinterpret_cast<ReportFn>(
            reinterpret_cast<void*>(GetProcAddress(probe_, "ProbeReport")));
        ASSERT_NE(debugOutput_, nullptr);
        ASSERT_NE(report_, nullptr);
    }
    void TearDown() override { FreeLibrary(probe_); }

    using DebugOutputFn = void (*)(const wchar_t*);
    using ReportFn = int (*)(const wchar_t*);
    HMODULE probe_ = nullptr;
    DebugOutputFn debugOutput_ = nullptr;
    ReportFn report_ = nullptr;
};

const wchar_t kMessage[] = L"エフェクトのロードに失敗しました hr=E_FAIL (0x80004005)";

TEST_F(ReportCaptureTest, ReadsTheExactUtf16TextAndAnswersARealBox) {
    for (int answer : {IDNO, IDYES}) {
        ReportCapture capture(answer);
        ASSERT_TRUE(capture.Attach(probe_));
        EXPECT_EQ(report_(kMessage), answer);
        EXPECT_EQ(capture.DebugWrites(), (std::vector<std::wstring>{kMessage, L"\n"}));
        ASSERT_EQ(capture.Boxes().size(), 1u);
        const CapturedBox& box = capture.Boxes()[0];
        EXPECT_EQ(box.text, kMessage);
        EXPECT_EQ(box.caption, L"Unexpected error encountered");
        EXPECT_EQ(box.flags, static_cast<UINT>(MB_ICONERROR | MB_YESNO));
        EXPECT_TRUE(box.shown) << "the box's window never came up";
        EXPECT_EQ(box.answer, answer);
    }
}

TEST_F(ReportCaptureTest, TakesOnlyTheAttachedModulesCalls) {
    ReportCapture capture(IDNO);
    ASSERT_TRUE(capture.Attach(probe_));
    OutputDebugStringW(L"the test's own line\n");
    debugOutput_(L"probe");
    EXPECT_EQ(capture.DebugWrites(), std::vector<std::wstring>{L"probe"});
}

int g_hookedCalls = 0;
void WINAPI CountingOutput(LPCWSTR) { ++g_hookedCalls; }

TEST_F(ReportCaptureTest, HookingTheOriginalBackUndoesTheHook) {
    void* original = HookImport(probe_, "kernel32.dll", "OutputDebugStringW",
                                reinterpret_cast<void*>(&CountingOutput));
    ASSERT_NE(original, nullptr);
    debugOutput_(L"counted");
    EXPECT_EQ(HookImport(probe_, "KERNEL32.DLL", "OutputDebugStringW", original),
              reinterpret_cast<void*>(&CountingOutput));
    debugOutput_(L"not counted");
    EXPECT_EQ(g_hookedCalls, 1);
}

TEST_F(ReportCaptureTest, ChangesNothingForImportsTheModuleDoesNotHave) {
    const auto replacement = reinterpret_cast<void*>(&CountingOutput);
    EXPECT_EQ(HookImport(probe_, "KERNEL32.dll", "NoSuchFunction", replacement), nullptr);
    EXPECT_EQ(HookImport(probe_, "d3d9.dll", "Direct3DCreate9", replacement), nullptr);
    EXPECT_EQ(HookImport(nullptr, "KERNEL32.dll", "OutputDebugStringW", replacement), nullptr);
}

TEST_F(ReportCaptureTest, ListsTheLibrariesAModuleImports) {
    std::vector<std::string> names = ImportedLibraries(probe_);
    for (std::string& name : names) CharLowerA(name.data());
    EXPECT_NE(std::find(names.begin(), names.end(), "kernel32.dll"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "user32.dll"), names.end());
    EXPECT_TRUE(ImportedLibraries(nullptr).empty());
}

}  // namespace
