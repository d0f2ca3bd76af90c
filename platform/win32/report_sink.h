// Where the report operations send their output, for tests and the Linux
// stand-ins. On Linux the default sink writes to standard error and answers
// message boxes by the KELO_MESSAGEBOX policy. On Windows the product calls
// the real functions; test programs link an implementation that redirects
// their own calls to an installed sink (tests/wine). Tests install their own
// sink to read the exact texts, choose the answers and say whether a
// debugger is attached.
#pragma once

#include "platform/win32_api.h"

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void DebugOutput(LPCWSTR text) = 0;
    virtual int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) = 0;
    virtual void DebugBreak() = 0;
    // Whether a debugger would catch DebugBreak's breakpoint.
    virtual bool DebuggerPresent() = 0;
};

// Installs sink (null restores the default) and returns the one it replaces.
ReportSink* SetReportSink(ReportSink* sink);
