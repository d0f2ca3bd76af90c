#include <gtest/gtest.h>

#include <string>

#include "diag/report.h"
#include "platform/win32/report_sink.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#endif

namespace {

class RecordingSink final : public ReportSink {
public:
    std::basic_string<WCHAR> output;
    int boxes = 0;
    int breaks = 0;
    int answer = IDNO;
    bool debugger = false;
    void DebugOutput(LPCWSTR text) override { output += text; }
    int MessageBox(HWND, LPCWSTR, LPCWSTR, UINT) override {
        ++boxes;
        return answer;
    }
    void DebugBreak() override { ++breaks; }
    bool DebuggerPresent() override { return debugger; }
};

TEST(ReportSink, RoutesTheReportOperationsToTheInstalledSinkAndRestoresTheDefault) {
    RecordingSink sink;
    EXPECT_EQ(SetReportSink(&sink), nullptr);
    OutputDebugStringW(WIDE("エラー "));
    OutputDebugStringW(WIDE("hr\n"));
    sink.answer = IDYES;
    EXPECT_EQ(MessageBoxW(GetForegroundWindow(), WIDE("text"), WIDE("caption"), MB_YESNO), IDYES);
    DebugBreak();
    EXPECT_FALSE(IsDebuggerPresent());
    sink.debugger = true;
    EXPECT_TRUE(IsDebuggerPresent());
    EXPECT_EQ(SetReportSink(nullptr), &sink);
    EXPECT_EQ(sink.output, WIDE("エラー hr\n"));
    EXPECT_EQ(sink.boxes, 1);
    EXPECT_EQ(sink.breaks, 1);
}

#ifndef _WIN32
// The stand-in's own answers, in a child process that answers Yes to a real
// report: traced, it stops at the breakpoint for its tracer; untraced, the
// report returns its code and the process carries on.
TEST(ReportSink, TheAnswerYesStopsATracedProcessAndLeavesAnUntracedOneRunning) {
    constexpr HRESULT kCode = static_cast<HRESULT>(0x8876086A);
    constexpr int kReturned = 10, kNoTracing = 11;
    for (const bool traced : {true, false}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(kNoTracing);
            // The report's texts are not this test's business.
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            setenv("KELO_MESSAGEBOX", "yes", 1);
            if (IsDebuggerPresent() != (traced ? TRUE : FALSE)) _exit(1);
            _exit(ReportError("./renderer/support.cpp", 3, kCode, WIDE("x"), TRUE) == kCode ? kReturned : 2);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        pid_t waited = 0;
        while ((waited = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (waited == 0 || (WIFSTOPPED(status))) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        ASSERT_NE(waited, 0) << "the child neither stopped nor ended";
        if (WIFEXITED(status) && WEXITSTATUS(status) == kNoTracing) GTEST_SKIP() << "ptrace is not allowed here";
        if (traced) {
            EXPECT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP)
                << "traced: status 0x" << std::hex << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kReturned)
                << "untraced: status 0x" << std::hex << status;
        }
    }
}
#endif

}  // namespace
