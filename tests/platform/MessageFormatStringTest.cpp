// FormatMessageW's rules for message texts, checked through the port with
// texts given directly (FORMAT_MESSAGE_FROM_STRING): the same table of
// expectations on Linux (the project's formatter) and on Windows (the
// platform's FormatMessageW, under Wine).

#include <gtest/gtest.h>

#include <vector>

#include "common/Text.h"
#include "platform/MessageResources.h"

namespace {

using kx::InsertHandling;

struct Case {
    const wchar_t* format;
    InsertHandling handling;
    uint32_t error;
    const wchar_t* expected;
};

constexpr InsertHandling R = InsertHandling::Replace;
constexpr InsertHandling I = InsertHandling::Ignore;

void Check(const std::vector<Case>& cases, const std::vector<std::wstring>& inserts) {
    for (const Case& c : cases) {
        std::wstring text;
        uint32_t error = kx::platform::FormatStringMessage(c.format, c.handling, inserts, text);
        SCOPED_TRACE(kx::WideToUtf8(c.format));
        EXPECT_EQ(error, c.error);
        if (c.error == 0) {
            EXPECT_EQ(text, c.expected);
        }
    }
}

TEST(FormatStringMessage, EscapesAndLineEnds) {
    Check({{L"a %1 b %2 c %3", R, 0, L"a one b two c three"},
           {L"a %1 b %2 c %3", I, 0, L"a %1 b %2 c %3"},
           {L"x%%y", R, 0, L"x%y"},
           {L"x%%y", I, 0, L"x%%y"},
           {L"x%ny", R, 0, L"x\r\ny"},
           {L"x%ny", I, 0, L"x\r\ny"},
           {L"x%ry", R, 0, L"x\ry"},
           {L"x%ty", I, 0, L"x\ty"},
           {L"x%.y", R, 0, L"x.y"},
           {L"x%.y", I, 0, L"x%.y"},
           {L"x%!y", R, 0, L"x!y"},
           {L"x% y", R, 0, L"x y"},
           {L"x%qy", R, 0, L"xqy"},
           {L"x%qy", I, 0, L"x%qy"},
           {L"x%0y", R, 0, L"x"},
           {L"x%0y", I, 0, L"x"},
           {L"lf\nx", R, 0, L"lf\r\nx"},
           {L"cr\rx", R, 0, L"cr\r\nx"},
           {L"crlf\r\nx", I, 0, L"crlf\r\nx"},
           {L"lfcr\n\rx", R, 0, L"lfcr\r\n\r\nx"},
           // After a percent sign a CR is taken as it is.
           {L"100%\r\n", R, 0, L"100\r\r\n"},
           {L"100%\r\n", I, 0, L"100%\r\r\n"}},
          {L"one", L"two", L"three"});
}

TEST(FormatStringMessage, Failures) {
    Check({{L"100%", R, 87, L""},
           {L"100%", I, 87, L""},
           {L"%%%", R, 87, L""},
           {L"%1!s", R, 87, L""},
           {L"%1!", R, 87, L""},
           {L"%0", R, 235, L""},
           {L"", I, 235, L""},
           {L"%1!!", R, 235, L""}},
          {L"one"});
    // An unclosed directive is only text while inserts are ignored.
    Check({{L"%1!s", I, 0, L"%1!s"}}, {});
}

TEST(FormatStringMessage, InsertNumbersAndSpecifications) {
    Check({{L"%1%2", R, 0, L"onetwo"},
           {L"%1.%2", R, 0, L"one.two"},
           // Two digits at most: %100 is insert 10, then a 0.
           {L"%100", R, 0, L"%100"},
           {L"%10", I, 0, L"%10"},
           {L"%1!s!", R, 0, L"one"},
           {L"%1!5s!|", R, 0, L"  one|"},
           {L"%1!-5s!|", R, 0, L"one  |"},
           {L"%1!.2s!", R, 0, L"on"},
           {L"%3!10.3s!|", R, 0, L"       thr|"},
           {L"[%4!3s!]", R, 0, L"[ %4]"}},
          {L"one", L"two", L"three"});
}

TEST(FormatStringMessage, NumericSpecificationsReadTheTextsNumber) {
    Check({{L"%1!d!", R, 0, L"42"},
           {L"%1!5d!|", R, 0, L"   42|"},
           {L"%1!-5d!|", R, 0, L"42   |"},
           {L"%1!05d!", R, 0, L"00042"},
           {L"%1!x!", R, 0, L"2a"},
           {L"%1!X!", R, 0, L"2A"},
           {L"%1!#x!", R, 0, L"0x2a"},
           {L"%1!o!", R, 0, L"52"},
           {L"%1!+d!", R, 0, L"+42"},
           {L"%2!d!", R, 0, L"-1"},
           {L"%2!u!", R, 0, L"4294967295"},
           {L"%3!d!", R, 0, L"-1"},
           {L"%3!I64d!", R, 0, L"4294967295"},
           {L"%4!d!", R, 0, L"31"},
           {L"%5!c!", R, 0, L"A"},
           // Past the texts: the number of "%9", which is none.
           {L"%9!d!", R, 0, L"0"}},
          {L"42", L"-1", L"4294967295", L"0x1F", L"A"});
}

TEST(FormatStringMessage, InsertTextsStopAtNul) {
    std::wstring text;
    std::vector<std::wstring> inserts = {std::wstring(L"ab\0cd", 5)};
    EXPECT_EQ(kx::platform::FormatStringMessage(L"[%1]", R, inserts, text), 0u);
    EXPECT_EQ(text, L"[ab]");
}

}  // namespace
