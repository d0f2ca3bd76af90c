// A stand-in for a plug-in's reports, for the capture tests: a DLL that calls
// OutputDebugStringW and MessageBoxW through its own imports.
#include <windows.h>

extern "C" __declspec(dllexport) void ProbeDebugOutput(const wchar_t* text) {
    OutputDebugStringW(text);
}

extern "C" __declspec(dllexport) int ProbeReport(const wchar_t* text) {
    OutputDebugStringW(text);
    OutputDebugStringW(L"\n");
    return MessageBoxW(GetForegroundWindow(), text, L"Unexpected error encountered",
                       MB_ICONERROR | MB_YESNO);
}
