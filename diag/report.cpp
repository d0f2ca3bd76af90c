#include "diag/report.h"

namespace {

const size_t kLineCapacity = 128;
const size_t kCodeCapacity = 256;
const size_t kFileCapacity = 260;
const size_t kCallingCapacity = 1024;
const size_t kOutputCapacity = 3000;

// A message without a terminator within this many characters is not shown.
const size_t kMessageLimit = 1024;

const UINT kBoxFlags = MB_ICONERROR | MB_YESNO;

}  // namespace

// The debug output receives each fragment as its own write, so a message of
// any length reaches it uncut; only the box is bounded by the buffers.
HRESULT ReportError(const char* file, int32_t line, HRESULT hr, LPCWSTR message, BOOL popup) {
    WCHAR lineText[kLineCapacity];
    WCHAR codeText[kCodeCapacity];
    char fileText[kFileCapacity];
    WCHAR callingText[kCallingCapacity];
    WCHAR output[kOutputCapacity];

    BoundedFormatWide(lineText, kLineCapacity, WIDE("%ld"), line);
    if (file != nullptr) {
        BoundedFormatWide(output, kOutputCapacity, WIDE("%S(%s): "), file, lineText);
        OutputDebugStringW(output);
    }

    size_t messageLength = 0;
    if (message != nullptr) BoundedLengthWide(message, kMessageLimit, &messageLength);
    if (messageLength > 0) {
        OutputDebugStringW(message);
        OutputDebugStringW(WIDE(" "));
    }

    BoundedFormatWide(codeText, kCodeCapacity, WIDE("%s (0x%0.8x)"), HresultName(hr),
                      static_cast<uint32_t>(hr));
    BoundedFormatWide(output, kOutputCapacity, WIDE("hr=%s"), codeText);
    OutputDebugStringW(output);
    OutputDebugStringW(WIDE("\n"));

    if (!popup) return hr;

    BoundedCopy(fileText, kFileCapacity, "");
    if (file != nullptr) BoundedCopy(fileText, kFileCapacity, file);
    BoundedCopyWide(callingText, kCallingCapacity, WIDE(""));
    if (messageLength > 0) {
        BoundedFormatWide(callingText, kCallingCapacity, WIDE("Calling: %s\n"), message);
    }
    BoundedFormatWide(output, kOutputCapacity,
                      WIDE("File: %S\nLine: %s\nError Code: %s\n%sDo you want to debug the application?"),
                      fileText, lineText, codeText, callingText);

    HWND owner = GetForegroundWindow();
    // Without a debugger the breakpoint is an unhandled exception that ends
    // the editor, and the user's unsaved project with it: the answer Yes
    // breaks only into a debugger that is there to take it.
    if (MessageBoxW(owner, output, WIDE("Unexpected error encountered"), kBoxFlags) == IDYES &&
        IsDebuggerPresent()) {
        DebugBreak();
    }
    return hr;
}
