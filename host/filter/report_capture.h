// Reads a loaded module's reports exactly as it makes them: every text it
// passes to OutputDebugStringW, and every MessageBoxW call, which is then
// shown for real and answered with a chosen button by a CBT hook on the
// calling thread, so that nothing waits for a person.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CapturedBox {
    std::wstring text;
    std::wstring caption;
    UINT flags;
    bool shown;  // the box's window came up (and was answered by the hook)
    int answer;  // what MessageBoxW returned to the module
};

// One capture at a time: the hooks are plain functions that find it globally.
class ReportCapture {
public:
    explicit ReportCapture(int answer);
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    // Hooks module's imports of both functions; false when either is missing.
    bool Attach(HMODULE module);

    // Each text written to the debugger's output, one entry per call.
    const std::vector<std::wstring>& DebugWrites() const { return debugWrites_; }
    const std::vector<CapturedBox>& Boxes() const { return boxes_; }

private:
    static void WINAPI OnOutputDebugString(LPCWSTR text);
    static int WINAPI OnMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags);
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam);

    int answer_;
    HMODULE module_ = nullptr;
    void* realOutputDebugString_ = nullptr;
    void* realMessageBox_ = nullptr;
    HHOOK cbt_ = nullptr;
    bool boxShown_ = false;
    std::vector<std::wstring> debugWrites_;
    std::vector<CapturedBox> boxes_;
};
