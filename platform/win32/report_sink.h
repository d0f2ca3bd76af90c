// Where the Linux stand-ins of the report operations send their output.
// The default sink writes to standard error and answers message boxes by the
// KELO_MESSAGEBOX policy; tests install their own to read the exact texts and
// choose the answers.
#pragma once

#include "platform/win32_api.h"

#ifndef _WIN32

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void DebugOutput(LPCWSTR text) = 0;
    virtual int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) = 0;
    virtual void DebugBreak() = 0;
};

// Installs sink (null restores the default) and returns the one it replaces.
ReportSink* SetReportSink(ReportSink* sink);

#endif  // !_WIN32
