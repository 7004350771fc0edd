// The message text formatter's own rules beyond what the platform tests
// compare with FormatMessageW: widths taken from inserts, limits on hostile
// directives, and how insert texts are read.

#include "common/MessageText.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

using kx::InsertHandling;
using kx::InsertReading;

std::wstring Format(const std::wstring& format, const std::vector<std::wstring>& inserts,
                    uint32_t* error = nullptr) {
    std::wstring text;
    uint32_t result = kx::FormatMessageText(format, InsertHandling::Replace, inserts, text);
    if (error) *error = result;
    return text;
}

TEST(MessageText, WidthAndPrecisionFromInserts) {
    // "*" takes the width from the insert named, the value from the next one.
    EXPECT_EQ(Format(L"%1!*s!|", {L"6", L"ab"}), L"    ab|");
    EXPECT_EQ(Format(L"%1!*s!|", {L"-4", L"ab"}), L"ab  |");
    EXPECT_EQ(Format(L"%1!-*s!|", {L"4", L"ab"}), L"ab  |");
    EXPECT_EQ(Format(L"%1!.*s!", {L"1", L"abc"}), L"a");
    EXPECT_EQ(Format(L"%1!*.*s!|", {L"5", L"2", L"abcdef"}), L"   ab|");
    EXPECT_EQ(Format(L"%1!*d!|", {L"4", L"7"}), L"   7|");
    // The value past the texts is the text "%2", in a width of 3.
    EXPECT_EQ(Format(L"%1!*s!", {L"3"}), L" %2");
}

TEST(MessageText, HostileWidthsAreLimited) {
    EXPECT_EQ(Format(L"%1!100000s!", {L"x"}).size(),
              static_cast<std::size_t>(kx::kMaxMessageInsertWidth));
    EXPECT_EQ(Format(L"%1!*s!", {L"99999999999999", L"x"}).size(),
              static_cast<std::size_t>(kx::kMaxMessageInsertWidth));
    EXPECT_EQ(Format(L"%1!.100000d!", {L"1"}).size(),
              static_cast<std::size_t>(kx::kMaxMessageInsertWidth));
    // Many wide inserts together stop at the length limit.
    std::wstring many;
    for (int i = 0; i < 300; ++i) many += L"%1!4000s!";
    uint32_t error = 0;
    Format(many, {L"x"}, &error);
    EXPECT_EQ(error, kx::kMessageErrorNotEnoughMemory);
}

TEST(MessageText, LengthPrefixesAndConversions) {
    EXPECT_EQ(Format(L"%1!ls! %1!ws! %1!hs! %1!S!", {L"t"}), L"t t t t");
    EXPECT_EQ(Format(L"%1!hd!", {L"70000"}), L"4464");
    EXPECT_EQ(Format(L"%1!lld! %1!I64x!", {L"-5"}), L"-5 fffffffffffffffb");
    EXPECT_EQ(Format(L"%1!C!", {L"Zed"}), L"Z");
    // Floating point and the like have no meaning for texts.
    EXPECT_EQ(Format(L"[%1!e!]", {L"1.5"}), L"[e]");
}

TEST(MessageText, OneInsertReadAsNumberAndAsText) {
    // Windows shows the text's address for the first reading; here both read the text.
    EXPECT_EQ(Format(L"%1!d! is %1", {L"42"}), L"42 is 42");
}

TEST(MessageText, FormatEndsAtNul) {
    EXPECT_EQ(Format(std::wstring(L"ab\0%1", 5), {L"x"}), L"ab");
}

TEST(MessageText, ScanTellsHowEachInsertIsRead) {
    kx::MessageInsertScan scan =
        kx::ScanMessageInserts(L"%1 %2!d! %3!c! %4!S! %5!e! %%6 %7!*d! %2!u!");
    EXPECT_EQ(scan.highest, 8u);
    EXPECT_TRUE(scan.readsWidthFromInsert);
    EXPECT_EQ(scan.readings[1], static_cast<uint8_t>(InsertReading::WideText));
    EXPECT_EQ(scan.readings[2], static_cast<uint8_t>(InsertReading::Number));
    EXPECT_EQ(scan.readings[3], static_cast<uint8_t>(InsertReading::Character));
    EXPECT_EQ(scan.readings[4], static_cast<uint8_t>(InsertReading::AnsiText));
    EXPECT_EQ(scan.readings[5], static_cast<uint8_t>(InsertReading::Other));
    EXPECT_EQ(scan.readings[6], 0u);
    EXPECT_EQ(scan.readings[7], static_cast<uint8_t>(InsertReading::Number));
    EXPECT_EQ(scan.readings[8], static_cast<uint8_t>(InsertReading::Number));

    kx::MessageInsertScan mixed = kx::ScanMessageInserts(L"%1!x! %1");
    EXPECT_EQ(mixed.readings[1], static_cast<uint8_t>(InsertReading::Number) |
                                     static_cast<uint8_t>(InsertReading::WideText));
    EXPECT_FALSE(mixed.readsWidthFromInsert);
    // The text ends at %0; an unclosed directive ends the scan.
    EXPECT_EQ(kx::ScanMessageInserts(L"a %1 %0 %9").highest, 1u);
    EXPECT_EQ(kx::ScanMessageInserts(L"%2 %3!d").highest, 2u);
    EXPECT_EQ(kx::ScanMessageInserts(L"%99!s! %100").highest, 99u);
}

TEST(MessageText, InsertNumbers) {
    EXPECT_EQ(kx::InsertNumber(L" 42 apples", InsertReading::Number), 42);
    EXPECT_EQ(kx::InsertNumber(L"-0x10", InsertReading::Number), -16);
    EXPECT_EQ(kx::InsertNumber(L"0X3e7", InsertReading::Number), 999);
    EXPECT_EQ(kx::InsertNumber(L"+7", InsertReading::Number), 7);
    EXPECT_EQ(kx::InsertNumber(L"abc", InsertReading::Number), 0);
    EXPECT_EQ(kx::InsertNumber(L"", InsertReading::Number), 0);
    EXPECT_EQ(kx::InsertNumber(L"99999999999999999999999", InsertReading::Number),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(kx::InsertNumber(L"-99999999999999999999999", InsertReading::Number),
              -std::numeric_limits<int64_t>::max());
    EXPECT_EQ(kx::InsertNumber(L"Zed", InsertReading::Character), L'Z');
    EXPECT_EQ(kx::InsertNumber(L"", InsertReading::Character), 0);
    EXPECT_EQ(kx::MissingInsertText(12), L"%12");
}

}  // namespace
