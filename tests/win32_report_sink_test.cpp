#include <gtest/gtest.h>

#include "platform/win32/report_sink.h"

namespace {

class RecordingSink final : public ReportSink {
public:
    std::u16string output;
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
    OutputDebugStringW(u"エラー ");
    OutputDebugStringW(u"hr\n");
    sink.answer = IDYES;
    EXPECT_EQ(MessageBoxW(GetForegroundWindow(), u"text", u"caption", MB_YESNO), IDYES);
    DebugBreak();
    EXPECT_EQ(SetReportSink(nullptr), &sink);
    EXPECT_EQ(sink.output, u"エラー hr\n");
    EXPECT_EQ(sink.boxes, 1);
    EXPECT_EQ(sink.breaks, 1);
}

}  // namespace
