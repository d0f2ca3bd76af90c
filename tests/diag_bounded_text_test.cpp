#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diag/report.h"

namespace {

// Wide text is UTF-16 on both platforms: wchar_t on Windows, char16_t elsewhere.
using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

const HRESULT kCut = static_cast<HRESULT>(0x8007007A);

std::string Narrow(WideView text) {
    std::string out;
    for (WCHAR c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

TEST(BoundedCopy, CopiesWhatFitsCutsTheRestAndRejectsZeroCapacity) {
    char dest[6];
    EXPECT_EQ(BoundedCopy(dest, sizeof dest, "abcde"), S_OK);
    EXPECT_STREQ(dest, "abcde");
    EXPECT_EQ(BoundedCopy(dest, sizeof dest, "abcdef"), kCut);
    EXPECT_STREQ(dest, "abcde");
    EXPECT_EQ(BoundedCopy(dest, 1, "a"), kCut);
    EXPECT_STREQ(dest, "");
    dest[0] = 'z';
    EXPECT_EQ(BoundedCopy(dest, 0, "a"), E_INVALIDARG);
    EXPECT_EQ(dest[0], 'z') << "nothing may be written at capacity 0";
}

TEST(BoundedCopyWide, CopiesWhatFitsCutsTheRestAndRejectsZeroCapacity) {
    WCHAR dest[4];
    EXPECT_EQ(BoundedCopyWide(dest, 4, WIDE("エラー")), S_OK);
    EXPECT_EQ(WideString(dest), WIDE("エラー"));
    EXPECT_EQ(BoundedCopyWide(dest, 4, WIDE("エラーです")), kCut);
    EXPECT_EQ(WideString(dest), WIDE("エラー"));
    dest[0] = WIDE('z');
    EXPECT_EQ(BoundedCopyWide(dest, 0, WIDE("a")), E_INVALIDARG);
    EXPECT_EQ(dest[0], WIDE('z'));
}

TEST(BoundedLengthWide, MeasuresWithinTheLimitAndLeavesTheLengthAloneOtherwise) {
    size_t length = 99;
    EXPECT_EQ(BoundedLengthWide(WIDE("abc"), 4, &length), S_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(BoundedLengthWide(WIDE(""), 1, &length), S_OK);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(BoundedLengthWide(WIDE("abc"), 4, nullptr), S_OK);

    length = 99;
    const WCHAR unterminated[3] = {WIDE('a'), WIDE('b'), WIDE('c')};
    EXPECT_EQ(BoundedLengthWide(unterminated, 3, &length), E_INVALIDARG);
    EXPECT_EQ(BoundedLengthWide(WIDE("abc"), 3, &length), E_INVALIDARG) << "terminator at index 3";
    EXPECT_EQ(BoundedLengthWide(WIDE("abc"), 0, &length), E_INVALIDARG);
    EXPECT_EQ(BoundedLengthWide(nullptr, 4, &length), E_INVALIDARG);
    EXPECT_EQ(length, 99u);
}

template <typename... Args>
WideString Format(LPCWSTR format, Args... args) {
    WCHAR buffer[64];
    EXPECT_EQ(BoundedFormatWide(buffer, 64, format, args...), S_OK) << Narrow(format);
    return buffer;
}

// The directives follow Windows' wide rules, not the C library's on Linux.
TEST(BoundedFormatWide, FormatsTheWindowsWideDirectives) {
    EXPECT_EQ(Format(WIDE("wide %s"), WIDE("エラー")), WIDE("wide エラー"));
    EXPECT_EQ(Format(WIDE("narrow %S!"), "\xE9\x83"), WIDE("narrow \u00e9\u0083!"));
    EXPECT_EQ(Narrow(Format(WIDE("%ld %ld %ld"), INT32_MIN, INT32_MAX, int32_t{0})),
              "-2147483648 2147483647 0");
    EXPECT_EQ(Narrow(Format(WIDE("%0.8x %0.8x %0.8x"), 0u, 0x8007000Eu, 0xFFFFFFFFu)),
              "00000000 8007000e ffffffff");
    EXPECT_EQ(Narrow(Format(WIDE("100%% %s %S"), static_cast<LPCWSTR>(nullptr),
                            static_cast<const char*>(nullptr))),
              "100% (null) (null)");
    EXPECT_EQ(Narrow(Format(WIDE("[%5d|%-4u|%04X|%.2s|%hs|%ls]"), -42, 7u, 9u, WIDE("abc"), "n", WIDE("w"))),
              "[  -42|7   |0009|ab|n|w]");
}

TEST(BoundedFormatWide, CutsToCapacityMinusOneAndReportsIt) {
    WCHAR dest[8];
    EXPECT_EQ(BoundedFormatWide(dest, 8, WIDE("%s"), WIDE("1234567")), S_OK);
    EXPECT_EQ(Narrow(dest), "1234567");
    EXPECT_EQ(BoundedFormatWide(dest, 8, WIDE("%s=%0.8x"), WIDE("hr"), 0x8007000Eu), kCut);
    EXPECT_EQ(Narrow(dest), "hr=8007");
    EXPECT_EQ(BoundedFormatWide(dest, 1, WIDE("x")), kCut);
    EXPECT_EQ(Narrow(dest), "");
}

TEST(BoundedFormatWide, FailsOnBadCapacityOrAnUnknownDirective) {
    WCHAR dest[8] = {WIDE('z')};
    EXPECT_EQ(BoundedFormatWide(dest, 0, WIDE("x")), E_INVALIDARG);
    EXPECT_EQ(BoundedFormatWide(dest, size_t{2147483648u}, WIDE("x")), E_INVALIDARG);
    EXPECT_EQ(dest[0], WIDE('z')) << "nothing may be written on an invalid capacity";
    EXPECT_EQ(BoundedFormatWide(dest, 8, WIDE("a%qb")), kCut);
    EXPECT_EQ(Narrow(dest), "a");
    EXPECT_EQ(BoundedFormatWide(dest, 8, WIDE("ab%")), kCut);
    EXPECT_EQ(Narrow(dest), "ab");
}

}  // namespace
