#include "common/Text.h"

#include <gtest/gtest.h>

#include <string>

using namespace kx;

TEST(TextTest, Utf16LEEncodingIsExactIncludingPairsAndNul) {
    std::wstring text = std::wstring(L"A\u00e9") + L'\0' + L"\U0001F600";
    std::string bytes = WideToUtf16LE(text);
    EXPECT_EQ(bytes, std::string("A\0\xE9\0\0\0\x3D\xD8\x00\xDE", 10));
    EXPECT_EQ(Utf16LEToWide(bytes.data(), bytes.size()), text);
}

TEST(TextTest, Utf16LEDecodingKeepsLoneSurrogatesAndIgnoresAnOddByte) {
    const unsigned char bytes[] = {0x00, 0xD8, 0x41, 0x00, 0x42};
    std::wstring text = Utf16LEToWide(bytes, sizeof bytes);
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(static_cast<uint32_t>(text[0]), 0xD800u);
    EXPECT_EQ(text[1], L'A');
    EXPECT_EQ(WideToUtf16LE(text), std::string("\x00\xD8\x41\x00", 4));
}

TEST(TextTest, Utf8RoundTripAndReplacementOfBadInput) {
    std::wstring text = L"Gr\u00fc\u00dfe \u20ac \U0001F600";
    EXPECT_EQ(WideToUtf8(text),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              L"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xE2\x82"), L"\uFFFD\uFFFD");            // truncated
}

TEST(TextTest, CaseInsensitiveComparisonCoversAsciiAndBeyond) {
    EXPECT_TRUE(EqualsNoCase(L"EventDefinition", L"EVENTDEFINITION"));
    EXPECT_TRUE(EqualsNoCase(L"\u00c4rger", L"\u00e4RGER"));
    EXPECT_FALSE(EqualsNoCase(L"abc", L"abcd"));
    EXPECT_LT(CompareNoCase(L"abc", L"ABD"), 0);
    EXPECT_GT(CompareNoCase(L"b", L"A"), 0);
    EXPECT_TRUE(StartsWithNoCase(L"UTF-8; x", L"utf-8"));
    EXPECT_EQ(FindNoCase(L"xx<HTML>yy", L"<html>"), 2u);
    EXPECT_EQ(FindNoCase(L"abc", L"abcd"), std::wstring::npos);
    EXPECT_EQ(ToLower(L"\u00c9T\u00c9"), L"\u00e9t\u00e9");
    EXPECT_EQ(ToUpper(L"stra\u00dfe"), L"STRA\u00dfE");  // one-to-one mapping only
}

TEST(TextTest, TrimAndDecimalConversion) {
    EXPECT_EQ(Trim(L" \t Yes\r\n"), L"Yes");
    EXPECT_EQ(Trim(L" \r\n"), L"");
    EXPECT_EQ(ParseDecimal(L"4720abc"), 4720);
    EXPECT_EQ(ParseDecimal(L"  -12"), -12);
    EXPECT_EQ(ParseDecimal(L"+7"), 7);
    EXPECT_EQ(ParseDecimal(L"abc"), 0);
    EXPECT_EQ(ParseDecimal(L""), 0);
    EXPECT_EQ(ParseDecimal(L"99999999999"), 2147483647);
    EXPECT_EQ(ParseDecimal(L"-99999999999"), -2147483647 - 1);
}
