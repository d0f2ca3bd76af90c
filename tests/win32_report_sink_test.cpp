#include <gtest/gtest.h>

#include <string>

#include "platform/win32/report_sink.h"

namespace {

class RecordingSink final : public ReportSink {
public:
    std::basic_string<WCHAR> output;
    int boxes = 0;
    int breaks = 0;
    int answer = IDNO;
    void DebugOutput(LPCWSTR text) override { output += text; }
    int MessageBox(HWND, LPCWSTR, LPCWSTR, UINT) override {
        ++boxes;
        return answer;
    }
    void DebugBreak() override { ++breaks; }
};

TEST(ReportSink, RoutesTheFourOperationsToTheInstalledSinkAndRestoresTheDefault) {
    RecordingSink sink;
    EXPECT_EQ(SetReportSink(&sink), nullptr);
    OutputDebugStringW(WIDE("エラー "));
    OutputDebugStringW(WIDE("hr\n"));
    sink.answer = IDYES;
    EXPECT_EQ(MessageBoxW(GetForegroundWindow(), WIDE("text"), WIDE("caption"), MB_YESNO), IDYES);
    DebugBreak();
    EXPECT_EQ(SetReportSink(nullptr), &sink);
    EXPECT_EQ(sink.output, WIDE("エラー hr\n"));
    EXPECT_EQ(sink.boxes, 1);
    EXPECT_EQ(sink.breaks, 1);
}

}  // namespace
