// The Linux stand-ins of the report operations. A headless process has no
// debugger output and nobody to answer a box, so the default sink writes both
// to standard error and answers No unless KELO_MESSAGEBOX says otherwise. A
// debugger is a tracer, as the kernel records it.
#include "platform/win32/report_sink.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/win32/utf8.h"

namespace {

// Unbuffered: the fragments of one report must reach the stream in order,
// interleaved correctly with anything else the process writes there.
void WriteStderr(const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t written = write(STDERR_FILENO, data, left);
        if (written <= 0) return;
        data += written;
        left -= static_cast<size_t>(written);
    }
}

class StderrSink final : public ReportSink {
public:
    void DebugOutput(LPCWSTR text) override { WriteStderr(Utf16ToUtf8(text)); }

    int MessageBox(HWND, LPCWSTR text, LPCWSTR caption, UINT) override {
        int answer = IDNO;
        const char* policy = std::getenv("KELO_MESSAGEBOX");
        if (policy != nullptr && std::strcmp(policy, "yes") == 0) answer = IDYES;
        WriteStderr("[" + Utf16ToUtf8(caption) + "]\n" + Utf16ToUtf8(text) + "\n[answered " +
                    (answer == IDYES ? "Yes" : "No") + "]\n");
        return answer;
    }

    void DebugBreak() override { std::raise(SIGTRAP); }

    bool DebuggerPresent() override {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.compare(0, 10, "TracerPid:") == 0) return std::atoi(line.c_str() + 10) != 0;
        }
        return false;
    }
};

StderrSink g_stderrSink;
ReportSink* g_sink = &g_stderrSink;

}  // namespace

ReportSink* SetReportSink(ReportSink* sink) {
    ReportSink* previous = g_sink;
    g_sink = sink != nullptr ? sink : &g_stderrSink;
    return previous == &g_stderrSink ? nullptr : previous;
}

void OutputDebugStringW(LPCWSTR text) {
    if (text != nullptr) g_sink->DebugOutput(text);
}

HWND GetForegroundWindow() { return nullptr; }

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return g_sink->MessageBox(owner, text != nullptr ? text : u"",
                              caption != nullptr ? caption : u"", type);
}

void DebugBreak() { g_sink->DebugBreak(); }

BOOL IsDebuggerPresent() { return g_sink->DebuggerPresent() ? TRUE : FALSE; }
