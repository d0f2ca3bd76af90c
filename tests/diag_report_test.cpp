#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/report.h"
#include "platform/win32/report_sink.h"

namespace {

// Wide text is UTF-16 on both platforms: wchar_t on Windows, char16_t elsewhere.
using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

// gtest prints narrow strings readably; the texts under test are UTF-16.
std::string Utf8(WideView text) {
    std::string out;
    for (WCHAR c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct Box {
    HWND owner;
    WideString text;
    WideString caption;
    UINT type;
};

class RecordingSink final : public ReportSink {
public:
    std::vector<WideString> writes;
    std::vector<Box> boxes;
    int breaks = 0;
    int answer = IDNO;
    bool debugger = false;

    void DebugOutput(LPCWSTR text) override { writes.emplace_back(text); }
    int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) override {
        boxes.push_back({owner, text, caption, type});
        return answer;
    }
    void DebugBreak() override { ++breaks; }
    bool DebuggerPresent() override { return debugger; }
};

const char kSupport[] = "./renderer/support.cpp";
const WCHAR kAsk[] = WIDE("Do you want to debug the application?");
const HRESULT kNotAvailable = static_cast<HRESULT>(0x8876086A);

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override { SetReportSink(&sink_); }
    void TearDown() override { SetReportSink(nullptr); }

    void ExpectWrites(const std::vector<WideString>& expected) {
        ASSERT_EQ(sink_.writes.size(), expected.size()) << "debug writes";
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Utf8(sink_.writes[i]), Utf8(expected[i])) << "debug write " << i + 1;
        }
    }
    void ExpectOneBox(const WideString& text) {
        ASSERT_EQ(sink_.boxes.size(), 1u) << "message boxes";
        EXPECT_EQ(Utf8(sink_.boxes[0].text), Utf8(text));
        EXPECT_EQ(Utf8(sink_.boxes[0].caption), "Unexpected error encountered");
        EXPECT_EQ(sink_.boxes[0].type, 0x14u);
        EXPECT_EQ(sink_.boxes[0].owner, GetForegroundWindow());
    }

    RecordingSink sink_;
};

TEST_F(ReportTest, CapabilityReportShowsSOkInTheLineAndTheBox) {
    const WideString message = WIDE("ダイナミックテクスチャが利用できません");
    EXPECT_EQ(ReportError(kSupport, 123, 0, message.c_str(), TRUE), 0);
    ExpectWrites({WIDE("./renderer/support.cpp(123): "), message, WIDE(" "), WIDE("hr=S_OK (0x00000000)"), WIDE("\n")});
    ExpectOneBox(WIDE("File: ./renderer/support.cpp\nLine: 123\nError Code: S_OK (0x00000000)\n")
                 WIDE("Calling: ") + message + WIDE("\n") + kAsk);
    EXPECT_EQ(sink_.breaks, 0);
}

TEST_F(ReportTest, WithoutPopupOnlyTheDebugLineIsWrittenAndHrComesBack) {
    EXPECT_EQ(ReportError(kSupport, 456, E_OUTOFMEMORY, WIDE("メモリの確保に失敗しました"), FALSE),
              E_OUTOFMEMORY);
    ExpectWrites({WIDE("./renderer/support.cpp(456): "), WIDE("メモリの確保に失敗しました"), WIDE(" "),
                  WIDE("hr=E_OUTOFMEMORY (0x8007000e)"), WIDE("\n")});
    EXPECT_TRUE(sink_.boxes.empty());
    EXPECT_EQ(sink_.breaks, 0);
}

TEST_F(ReportTest, NullFileDropsTheLocationAndLeavesTheBoxFileLineEmpty) {
    ReportError(nullptr, 7, E_FAIL, WIDE("GetSurfaceLevel"), TRUE);
    ExpectWrites({WIDE("GetSurfaceLevel"), WIDE(" "), WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n")});
    ExpectOneBox(WIDE("File: \nLine: 7\nError Code: E_FAIL (0x80004005)\nCalling: GetSurfaceLevel\n") +
                 WideString(kAsk));
}

TEST_F(ReportTest, NullOrEmptyMessageDropsTheMessageItsSeparatorAndTheCallingLine) {
    for (LPCWSTR message : {static_cast<LPCWSTR>(nullptr), WIDE("")}) {
        sink_ = RecordingSink();
        ReportError(nullptr, -1, E_FAIL, message, TRUE);
        ExpectWrites({WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n")});
        ExpectOneBox(WIDE("File: \nLine: -1\nError Code: E_FAIL (0x80004005)\n") + WideString(kAsk));
    }
}

// The calling buffer holds 1,023 characters: "Calling: ", the message, "\n".
TEST_F(ReportTest, LongMessagesAreWrittenWholeButCutInTheBoxAndDroppedFrom1024) {
    struct Case {
        size_t length;
        bool shown;
        WideString callingLine;  // as it appears in the box, before kAsk
    };
    const WideString text(1024, WIDE('メ'));
    const Case cases[] = {
        {1013, true, WIDE("Calling: ") + text.substr(0, 1013) + WIDE("\n")},
        {1014, true, WIDE("Calling: ") + text.substr(0, 1014)},
        {1023, true, WIDE("Calling: ") + text.substr(0, 1014)},
        {1024, false, WIDE("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        sink_ = RecordingSink();
        const WideString message = text.substr(0, c.length);
        ReportError(kSupport, 9, E_FAIL, message.c_str(), TRUE);
        if (c.shown) {
            ExpectWrites({WIDE("./renderer/support.cpp(9): "), message, WIDE(" "), WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n")});
        } else {
            ExpectWrites({WIDE("./renderer/support.cpp(9): "), WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n")});
        }
        ExpectOneBox(WIDE("File: ./renderer/support.cpp\nLine: 9\nError Code: E_FAIL (0x80004005)\n") +
                     c.callingLine + kAsk);
    }
}

// Path bytes widen one to one (0x83 becomes U+0083, never a sign-extended or
// code-page-converted character).
TEST_F(ReportTest, LongFilePathIsWholeInTheDebugLineAndCutTo259BytesInTheBox) {
    std::string path = "./";
    while (path.size() < 299) path += static_cast<char>(path.size() % 2 ? 'a' : 0x83);
    path += 'x';
    WideString widePath;
    for (unsigned char byte : path) widePath += static_cast<WCHAR>(byte);

    ReportError(path.c_str(), 1, E_FAIL, nullptr, TRUE);
    ExpectWrites({widePath + WIDE("(1): "), WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n")});
    ExpectOneBox(WIDE("File: ") + widePath.substr(0, 259) +
                 WIDE("\nLine: 1\nError Code: E_FAIL (0x80004005)\n") + kAsk);
}

TEST_F(ReportTest, LargestReportFitsTheBoxUncut) {
    const std::string path(300, 'p');
    const WideString message(1023, WIDE('m'));
    const HRESULT longestNamed = static_cast<HRESULT>(0x80040205);
    ReportError(path.c_str(), INT32_MIN, longestNamed, message.c_str(), TRUE);
    ExpectOneBox(WIDE("File: ") + WideString(259, WIDE('p')) + WIDE("\nLine: -2147483648\nError Code: ") +
                 WIDE("DIERR_NOTEXCLUSIVEACQUIRED & VFW_E_FILTER_ACTIVE & DMO_E_TYPE_NOT_ACCEPTED (0x80040205)\n") +
                 WIDE("Calling: ") + message.substr(0, 1014) + kAsk);
}

TEST_F(ReportTest, CodesAreNamedByExactValueWithUnknownForUnlistedOnes) {
    const struct {
        HRESULT hr;
        const char* written;
    } cases[] = {
        {static_cast<HRESULT>(0x80070000), "hr=Unknown (0x80070000)"},
        {5, "hr=ERROR_ACCESS_DENIED (0x00000005)"},
        {static_cast<HRESULT>(0x80070005), "hr=E_ACCESSDENIED (0x80070005)"},
        {259, "hr=ERROR_NO_MORE_ITEMS & DIERR_NOMOREITEMS (0x00000103)"},
        {static_cast<HRESULT>(0x80040205),
         "hr=DIERR_NOTEXCLUSIVEACQUIRED & VFW_E_FILTER_ACTIVE & DMO_E_TYPE_NOT_ACCEPTED (0x80040205)"},
    };
    for (const auto& c : cases) {
        sink_ = RecordingSink();
        EXPECT_EQ(ReportError(nullptr, 1, c.hr, nullptr, FALSE), c.hr);
        ASSERT_EQ(sink_.writes.size(), 2u);
        EXPECT_EQ(Utf8(sink_.writes[0]), c.written);
    }
}

// Yes breaks only into a debugger: without one the breakpoint would end the
// editor.
TEST_F(ReportTest, OnlyYesWithADebuggerBreaksAndEveryAnswerReturnsHr) {
    const struct {
        int answer;
        bool debugger;
        int breaks;
    } cases[] = {{IDYES, true, 1}, {IDYES, false, 0}, {IDNO, true, 0}, {0, true, 0}};
    for (const auto& c : cases) {
        sink_ = RecordingSink();
        sink_.answer = c.answer;
        sink_.debugger = c.debugger;
        EXPECT_EQ(ReportError(kSupport, 3, kNotAvailable, WIDE("x"), TRUE),
                  kNotAvailable);
        const std::string what = "answer " + std::to_string(c.answer) + (c.debugger ? ", debugger" : "");
        EXPECT_EQ(sink_.boxes.size(), 1u) << what;
        EXPECT_EQ(sink_.breaks, c.breaks) << what;
    }
}

// A failed effect compile reports the compiler's text and then the load
// failure with the same code: two independent lines and two boxes.
TEST_F(ReportTest, FailedEffectCompileGivesTwoCompleteReports) {
    const WideString compilerText = WIDE("kelo.fx(6,1): error X3000: syntax error\n");
    const HRESULT hr = E_FAIL;
    ReportError(kSupport, 40, hr, compilerText.c_str(), TRUE);
    ReportError(kSupport, 20, hr, WIDE("エフェクトのロードに失敗しました"), TRUE);
    ExpectWrites({WIDE("./renderer/support.cpp(40): "), compilerText, WIDE(" "), WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n"),
                  WIDE("./renderer/support.cpp(20): "), WIDE("エフェクトのロードに失敗しました"), WIDE(" "),
                  WIDE("hr=E_FAIL (0x80004005)"), WIDE("\n")});
    ASSERT_EQ(sink_.boxes.size(), 2u);
    EXPECT_EQ(Utf8(sink_.boxes[0].text),
              Utf8(WIDE("File: ./renderer/support.cpp\nLine: 40\nError Code: E_FAIL (0x80004005)\nCalling: ") +
                   compilerText + WIDE("\n") + kAsk));
    EXPECT_EQ(Utf8(sink_.boxes[1].text),
              Utf8(WIDE("File: ./renderer/support.cpp\nLine: 20\nError Code: E_FAIL (0x80004005)\n")
                   WIDE("Calling: エフェクトのロードに失敗しました\n") + WideString(kAsk)));
}

}  // namespace
