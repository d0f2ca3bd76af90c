// Reads the reports the plug-in makes while it exists: the debug lines, parsed
// into call-site line, message and result code, and the message boxes (each
// answered No).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/report_sink.h"

struct Report {
    int line = -1;         // -1: the debug line does not have the report's form
    std::string message;   // UTF-8; the whole debug line when it could not be parsed
    uint32_t hr = 0;
};

class ReportLog final : public ReportSink {
public:
    ReportLog();
    ~ReportLog() override;
    ReportLog(const ReportLog&) = delete;
    ReportLog& operator=(const ReportLog&) = delete;

    void DebugOutput(LPCWSTR text) override { output_ += text; }
    int MessageBox(HWND, LPCWSTR, LPCWSTR, UINT) override {
        ++boxes_;
        return IDNO;
    }
    void DebugBreak() override {}
    bool DebuggerPresent() override { return false; }

    std::vector<Report> Reports() const;
    int boxes() const { return boxes_; }

private:
    ReportSink* previous_;
    std::u16string output_;
    int boxes_ = 0;
};

