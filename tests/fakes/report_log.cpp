#include "tests/fakes/report_log.h"

#include <cstdlib>

#include "platform/win32/utf8.h"

ReportLog::ReportLog() : previous_(SetReportSink(this)) {}
ReportLog::~ReportLog() { SetReportSink(previous_); }

namespace {

// "./renderer/support.cpp(LINE): [MESSAGE ]hr=NAME (0xXXXXXXXX)"
Report Parse(const std::string& text) {
    Report report;
    report.message = text;
    const std::string prefix = "./renderer/support.cpp(";
    const size_t close = text.find("): ");
    const size_t code = text.rfind("hr=");
    const size_t hex = text.rfind("(0x");
    if (text.compare(0, prefix.size(), prefix) != 0 || close == std::string::npos ||
        code == std::string::npos || code < close + 3 || hex == std::string::npos ||
        hex < code || text.size() != hex + 12 || text.back() != ')') {
        return report;
    }
    report.line = std::atoi(text.c_str() + prefix.size());
    report.message = code == close + 3 ? "" : text.substr(close + 3, code - close - 4);
    report.hr = static_cast<uint32_t>(std::strtoul(text.substr(hex + 3, 8).c_str(), nullptr, 16));
    return report;
}

}  // namespace

std::vector<Report> ReportLog::Reports() const {
    std::vector<Report> reports;
    const std::string text = Utf16ToUtf8(output_);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        reports.push_back(Parse(text.substr(start, end - start)));
    }
    if (start < text.size()) reports.push_back(Parse(text.substr(start)));
    return reports;
}
