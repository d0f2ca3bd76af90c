// The report sink for Windows test programs: the same interface as the Linux
// stand-ins', so that one report test runs on both platforms. Installing a
// sink redirects the test program's own imports of the report functions
// to it; removing it puts the real functions back. The plug-in never links
// this: it always calls the real functions.
#include "platform/win32/report_sink.h"

#include "host/filter/pe_imports.h"

namespace {

ReportSink* g_sink = nullptr;

void WINAPI SinkOutputDebugString(LPCWSTR text) {
    if (text != nullptr) g_sink->DebugOutput(text);
}
HWND WINAPI SinkGetForegroundWindow() { return nullptr; }
int WINAPI SinkMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return g_sink->MessageBox(owner, text != nullptr ? text : L"",
                              caption != nullptr ? caption : L"", type);
}
void WINAPI SinkDebugBreak() { g_sink->DebugBreak(); }
BOOL WINAPI SinkIsDebuggerPresent() { return g_sink->DebuggerPresent() ? TRUE : FALSE; }

struct Import {
    const char* dll;
    const char* function;
    void* replacement;
    void* original;  // set while hooked; null when the program does not import it
};
Import g_imports[] = {
    {"KERNEL32.dll", "OutputDebugStringW", reinterpret_cast<void*>(&SinkOutputDebugString), nullptr},
    {"USER32.dll", "GetForegroundWindow", reinterpret_cast<void*>(&SinkGetForegroundWindow), nullptr},
    {"USER32.dll", "MessageBoxW", reinterpret_cast<void*>(&SinkMessageBox), nullptr},
    {"KERNEL32.dll", "DebugBreak", reinterpret_cast<void*>(&SinkDebugBreak), nullptr},
    {"KERNEL32.dll", "IsDebuggerPresent", reinterpret_cast<void*>(&SinkIsDebuggerPresent), nullptr},
};

}  // namespace

ReportSink* SetReportSink(ReportSink* sink) {
    ReportSink* previous = g_sink;
    HMODULE program = GetModuleHandleW(nullptr);
    if (sink != nullptr && previous == nullptr) {
        for (Import& import : g_imports)
            import.original = HookImport(program, import.dll, import.function, import.replacement);
    } else if (sink == nullptr && previous != nullptr) {
        for (Import& import : g_imports) {
            if (import.original != nullptr)
                HookImport(program, import.dll, import.function, import.original);
            import.original = nullptr;
        }
    }
    g_sink = sink;
    return previous;
}
