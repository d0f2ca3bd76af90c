#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diag/report.h"

namespace {

const HRESULT kCut = static_cast<HRESULT>(0x8007007A);

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
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
    EXPECT_EQ(BoundedCopyWide(dest, 4, u"エラー"), S_OK);
    EXPECT_EQ(std::u16string(dest), u"エラー");
    EXPECT_EQ(BoundedCopyWide(dest, 4, u"エラーです"), kCut);
    EXPECT_EQ(std::u16string(dest), u"エラー");
    dest[0] = u'z';
    EXPECT_EQ(BoundedCopyWide(dest, 0, u"a"), E_INVALIDARG);
    EXPECT_EQ(dest[0], u'z');
}

TEST(BoundedLengthWide, MeasuresWithinTheLimitAndLeavesTheLengthAloneOtherwise) {
    size_t length = 99;
    EXPECT_EQ(BoundedLengthWide(u"abc", 4, &length), S_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(BoundedLengthWide(u"", 1, &length), S_OK);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(BoundedLengthWide(u"abc", 4, nullptr), S_OK);

    length = 99;
    const WCHAR unterminated[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(BoundedLengthWide(unterminated, 3, &length), E_INVALIDARG);
    EXPECT_EQ(BoundedLengthWide(u"abc", 3, &length), E_INVALIDARG) << "terminator at index 3";
    EXPECT_EQ(BoundedLengthWide(u"abc", 0, &length), E_INVALIDARG);
    EXPECT_EQ(BoundedLengthWide(nullptr, 4, &length), E_INVALIDARG);
    EXPECT_EQ(length, 99u);
}

template <typename... Args>
std::u16string Format(LPCWSTR format, Args... args) {
    WCHAR buffer[64];
    EXPECT_EQ(BoundedFormatWide(buffer, 64, format, args...), S_OK) << Narrow(format);
    return buffer;
}

// The directives follow Windows' wide rules, not the C library's on Linux.
TEST(BoundedFormatWide, FormatsTheWindowsWideDirectives) {
    EXPECT_EQ(Format(u"wide %s", u"エラー"), u"wide エラー");
    EXPECT_EQ(Format(u"narrow %S!", "\xE9\x83"), u"narrow \u00e9\u0083!");
    EXPECT_EQ(Narrow(Format(u"%ld %ld %ld", INT32_MIN, INT32_MAX, int32_t{0})),
              "-2147483648 2147483647 0");
    EXPECT_EQ(Narrow(Format(u"%0.8x %0.8x %0.8x", 0u, 0x8007000Eu, 0xFFFFFFFFu)),
              "00000000 8007000e ffffffff");
    EXPECT_EQ(Narrow(Format(u"100%% %s %S", static_cast<LPCWSTR>(nullptr),
                            static_cast<const char*>(nullptr))),
              "100% (null) (null)");
    EXPECT_EQ(Narrow(Format(u"[%5d|%-4u|%04X|%.2s|%hs|%ls]", -42, 7u, 9u, u"abc", "n", u"w")),
              "[  -42|7   |0009|ab|n|w]");
}

TEST(BoundedFormatWide, CutsToCapacityMinusOneAndReportsIt) {
    WCHAR dest[8];
    EXPECT_EQ(BoundedFormatWide(dest, 8, u"%s", u"1234567"), S_OK);
    EXPECT_EQ(Narrow(dest), "1234567");
    EXPECT_EQ(BoundedFormatWide(dest, 8, u"%s=%0.8x", u"hr", 0x8007000Eu), kCut);
    EXPECT_EQ(Narrow(dest), "hr=8007");
    EXPECT_EQ(BoundedFormatWide(dest, 1, u"x"), kCut);
    EXPECT_EQ(Narrow(dest), "");
}

TEST(BoundedFormatWide, FailsOnBadCapacityOrAnUnknownDirective) {
    WCHAR dest[8] = {u'z'};
    EXPECT_EQ(BoundedFormatWide(dest, 0, u"x"), E_INVALIDARG);
    EXPECT_EQ(BoundedFormatWide(dest, size_t{2147483648u}, u"x"), E_INVALIDARG);
    EXPECT_EQ(dest[0], u'z') << "nothing may be written on an invalid capacity";
    EXPECT_EQ(BoundedFormatWide(dest, 8, u"a%qb"), kCut);
    EXPECT_EQ(Narrow(dest), "a");
    EXPECT_EQ(BoundedFormatWide(dest, 8, u"ab%"), kCut);
    EXPECT_EQ(Narrow(dest), "ab");
}

}  // namespace
