#include "tests/fakes/report_log.h"

#include <cstdlib>

ReportLog::ReportLog() : previous_(SetReportSink(this)) {}
ReportLog::~ReportLog() { SetReportSink(previous_); }

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

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
    const std::string text = ToUtf8(output_);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        reports.push_back(Parse(text.substr(start, end - start)));
    }
    if (start < text.size()) reports.push_back(Parse(text.substr(start)));
    return reports;
}
