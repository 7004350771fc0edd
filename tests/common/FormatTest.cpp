#include "common/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using kx::Format;

// The same table runs on Linux and under Wine: identical text on both.
TEST(FormatTest, ConversionsUsedByTheAgentGiveFixedText) {
    EXPECT_EQ(Format(L"%02d:%02d:%02d.%03d", 9, 5, 7, 42), L"09:05:07.042");
    EXPECT_EQ(Format(L"Thread(%06d)", 1234), L"Thread(001234)");
    EXPECT_EQ(Format(L"[%16s]", L"***Error: "), L"[      ***Error: ]");
    EXPECT_EQ(Format(L"%s\\%s", L"NT AUTHORITY", std::wstring(L"SYSTEM")), L"NT AUTHORITY\\SYSTEM");
    EXPECT_EQ(Format(L"%x %X %#x", 0xBADF00Du, 255, 255), L"badf00d FF 0xff");
    EXPECT_EQ(Format(L"%c|%s|%s", L'1', L"OBJNAME", L"x"), L"1|OBJNAME|x");
    EXPECT_EQ(Format(L"100%% done"), L"100% done");
    EXPECT_EQ(Format(L"%%%%%d", 1833), L"%%1833");
    EXPECT_EQ(Format(L"%-5s|%5d|%-5d|", L"ab", 42, 42), L"ab   |   42|42   |");
}

TEST(FormatTest, IntegersFollowWindowsWidthsOnEveryPlatform) {
    uint32_t all = 0xFFFFFFFFu;
    EXPECT_EQ(Format(L"%d", all), L"-1");
    EXPECT_EQ(Format(L"%u", all), L"4294967295");
    EXPECT_EQ(Format(L"%ld", int64_t{5000000000}), L"705032704");  // long is 32 bits
    EXPECT_EQ(Format(L"%lld %I64d", int64_t{5000000000}, int64_t{-5000000000}),
              L"5000000000 -5000000000");
    EXPECT_EQ(Format(L"%08.8lx", 0x80004005u), L"80004005");
    EXPECT_EQ(Format(L"%06d", -42), L"-00042");
    EXPECT_EQ(Format(L"%+d % d", 3, 3), L"+3  3");
    EXPECT_EQ(Format(L"%.3d", 7), L"007");
    EXPECT_EQ(Format(L"%hd", 70000), L"4464");
}

TEST(FormatTest, TextArgumentsOfEveryKindAndPrecision) {
    EXPECT_EQ(Format(L"%s", "narrow \xC3\xA9"), L"narrow \u00e9");
    EXPECT_EQ(Format(L"%ls %S", L"a", L"b"), L"a b");
    EXPECT_EQ(Format(L"%.3s", L"abcdef"), L"abc");
    EXPECT_EQ(Format(L"%*d|%-*d", 4, 7, 3, 7), L"   7|7  ");
    EXPECT_EQ(Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    EXPECT_EQ(Format(L"%s", L"\U0001F600"), L"\U0001F600");
}

TEST(FormatTest, MalformedFormatsNeverReadPastTheArguments) {
    EXPECT_EQ(Format(L"%d and %s"), L" and ");
    EXPECT_EQ(Format(L"%d %d", 1), L"1 ");
    EXPECT_EQ(Format(L"tail %"), L"tail %");
    EXPECT_EQ(Format(L"%q %d", 5), L"%q 5");
    EXPECT_EQ(Format(L"%d", L"text"), L"text");
    EXPECT_EQ(Format(L"%s", 12), L"12");
}
