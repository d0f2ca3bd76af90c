// The one way the plug-in reports a failure: a debug-output line and, when
// asked, a message box offering to debug. Nothing is allocated; all text is
// composed in fixed buffers and cut silently when it does not fit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32_api.h"

// Returns hr unchanged, so a call site can report and pass the code on.
HRESULT ReportError(const char* file, int32_t line, HRESULT hr, LPCWSTR message, BOOL popup);

// The published symbolic name of hr, or "Unknown"; never null.
LPCWSTR HresultName(HRESULT hr);

// Bounded text operations; n is the destination's capacity in characters,
// terminator included.
HRESULT BoundedCopy(char* dest, size_t n, const char* src);
HRESULT BoundedCopyWide(WCHAR* dest, size_t n, LPCWSTR src);
// Windows wide formatting on every platform: "%s" wide, "%S" narrow (each
// byte widened to the character of the same value), "%ld" an int32_t, "%0.8x"
// a uint32_t as eight lower-case hexadecimal digits.
HRESULT BoundedFormatWide(WCHAR* dest, size_t n, LPCWSTR format, ...);
HRESULT BoundedLengthWide(LPCWSTR text, size_t n, size_t* length);
