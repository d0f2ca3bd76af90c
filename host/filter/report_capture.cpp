#include "host/filter/report_capture.h"

#include "host/filter/pe_imports.h"

namespace {

ReportCapture* g_capture = nullptr;

constexpr char kKernel32[] = "KERNEL32.dll";
constexpr char kUser32[] = "USER32.dll";

}  // namespace

ReportCapture::ReportCapture(int answer) : answer_(answer) {
    g_capture = this;
    cbt_ = SetWindowsHookExW(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
}

ReportCapture::~ReportCapture() {
    if (realOutputDebugString_ != nullptr)
        HookImport(module_, kKernel32, "OutputDebugStringW", realOutputDebugString_);
    if (realMessageBox_ != nullptr)
        HookImport(module_, kUser32, "MessageBoxW", realMessageBox_);
    if (cbt_ != nullptr) UnhookWindowsHookEx(cbt_);
    g_capture = nullptr;
}

bool ReportCapture::Attach(HMODULE module) {
    module_ = module;
    realOutputDebugString_ = HookImport(module, kKernel32, "OutputDebugStringW",
                                        reinterpret_cast<void*>(&OnOutputDebugString));
    realMessageBox_ = HookImport(module, kUser32, "MessageBoxW",
                                 reinterpret_cast<void*>(&OnMessageBox));
    return realOutputDebugString_ != nullptr && realMessageBox_ != nullptr && cbt_ != nullptr;
}

void WINAPI ReportCapture::OnOutputDebugString(LPCWSTR text) {
    if (text != nullptr) g_capture->debugWrites_.emplace_back(text);
    reinterpret_cast<decltype(&OutputDebugStringW)>(g_capture->realOutputDebugString_)(text);
}

int WINAPI ReportCapture::OnMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    CapturedBox box{text != nullptr ? text : L"", caption != nullptr ? caption : L"", flags,
                    false, 0};
    g_capture->boxShown_ = false;
    box.answer = reinterpret_cast<decltype(&MessageBoxW)>(g_capture->realMessageBox_)(
        owner, text, caption, flags);
    box.shown = g_capture->boxShown_;
    g_capture->boxes_.push_back(box);
    return box.answer;
}

// A message box is a dialog; when it becomes active, press the chosen button.
LRESULT CALLBACK ReportCapture::OnCbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && g_capture != nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (lstrcmpW(className, L"#32770") == 0) {
            g_capture->boxShown_ = true;
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(g_capture->answer_, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
