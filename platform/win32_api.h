// The Win32 names the plug-in is written against. On Windows they come from
// the SDK; elsewhere this header declares the same names with the same values,
// and platform/win32/ implements the report operations.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Wide literals are UTF-16 on both platforms: wchar_t here, char16_t elsewhere.
#define WIDE(s) L##s

#else  // !_WIN32

#include <cstdint>

#define WIDE(s) u##s

// The only calling convention of x86-64 and of the plug-in's callbacks.
#define __cdecl

// HRESULT is 32 bits on every platform; "long" is 64 bits on Linux.
typedef int32_t HRESULT;
typedef int32_t BOOL;
typedef int32_t INT;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef float FLOAT;
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef struct HWND__* HWND;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define S_OK static_cast<HRESULT>(0x00000000)
#define S_FALSE static_cast<HRESULT>(0x00000001)
#define E_FAIL static_cast<HRESULT>(0x80004005)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001)
#define E_POINTER static_cast<HRESULT>(0x80004003)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000E)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057)

#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x)                                                    \
    (static_cast<HRESULT>(x) <= 0                                                \
         ? static_cast<HRESULT>(x)                                               \
         : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0x0000FFFFu) |       \
                                (FACILITY_WIN32 << 16) | 0x80000000u))

#define MB_YESNO 0x00000004u
#define MB_ICONERROR 0x00000010u
#define IDYES 6
#define IDNO 7

void OutputDebugStringW(LPCWSTR text);
HWND GetForegroundWindow();
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
void DebugBreak();
BOOL IsDebuggerPresent();

#endif  // _WIN32
