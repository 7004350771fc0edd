#include "http/PatternMatcher.h"

#include <gtest/gtest.h>

#include "common/Text.h"

#include <string>
#include <vector>

namespace {

using Captures = std::vector<std::wstring>;

// Captures of group 0 (or more) of every match, the way the HTTP client asks.
Captures Find(const wchar_t* pattern, std::wstring_view text, bool caseSensitive = false,
              int groups = 1, bool allowDuplicates = false) {
    Captures results{L"stale"};
    EXPECT_TRUE(CPatternMatcher::FindAllCaptures(pattern, caseSensitive, groups, text, results,
                                                 allowDuplicates))
        << "pattern " << kx::WideToUtf8(pattern);
    return results;
}

// The first capture of the leftmost match, or "<none>".
std::wstring First(const wchar_t* pattern, std::wstring_view text, bool caseSensitive = true) {
    Captures results = Find(pattern, text, caseSensitive);
    return results.empty() ? L"<none>" : results.front();
}

int Compile(const wchar_t* pattern) {
    CPatternMatcher matcher;
    return matcher.Parse(pattern, true);
}

const wchar_t* const kHeaders =
    L"HTTP/1.1 200 OK\r\n"
    L"content-length: 123\r\n"
    L"Content-Type: text/xml; Charset=UTF-8\r\n"
    L"Location: http://server/next\r\n"
    L"Set-Cookie: a=1; path=/\r\n"
    L"Set-Cookie:\tB=2\r\n"
    L"SET-COOKIE: A=1; PATH=/\r\n"
    L"\r\n";

}  // namespace

TEST(PatternMatcherTest, HeaderPatternsOfTheClient) {
    EXPECT_EQ(Find(L"charset={[A-Za-z0-9\\-_]+}", kHeaders), Captures{L"UTF-8"});
    EXPECT_EQ(Find(L"Content-Length: {[0-9]+}", kHeaders), Captures{L"123"});
    // Only digits may follow "Location: ".
    EXPECT_EQ(Find(L"Location: {[0-9]+}", kHeaders), Captures{});
    // The third line repeats the first in another case: not taken twice. The
    // tab after the colon is a blank, and the line end is not captured.
    EXPECT_EQ(Find(L"Set-Cookie:\\b*{.+?}\\n", kHeaders), (Captures{L"a=1; path=/", L"B=2"}));
    EXPECT_EQ(Find(L"Set-Cookie:\\b*{.+?}\\n", kHeaders, false, 1, true),
              (Captures{L"a=1; path=/", L"B=2", L"A=1; PATH=/"}));
}

TEST(PatternMatcherTest, HtmlTagPatternsOfTheClient) {
    EXPECT_EQ(Find(L"{<html>}", L"<p>x</p><HTML><body>"), Captures{L"<HTML>"});
    EXPECT_EQ(Find(L"{</html>}", L"<HTML><body>"), Captures{});
    // A quoted charset is not a charset name.
    EXPECT_EQ(Find(L"charset={[A-Za-z0-9\\-_]+}", L"charset=\"utf-8\""), Captures{});
}

TEST(PatternMatcherTest, FindAllCapturesRejectsWhatItCannotUse) {
    Captures results{L"stale"};
    EXPECT_FALSE(CPatternMatcher::FindAllCaptures(nullptr, false, 1, L"x", results, false));
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(CPatternMatcher::FindAllCaptures(L"", false, 1, L"x", results, false));
    EXPECT_FALSE(CPatternMatcher::FindAllCaptures(L"{x}", false, 0, L"x", results, false));
    EXPECT_FALSE(CPatternMatcher::FindAllCaptures(L"{x}", false, 1, L"", results, false));
    results = {L"stale"};
    EXPECT_FALSE(CPatternMatcher::FindAllCaptures(L"{x", false, 1, L"x", results, false));
    EXPECT_TRUE(results.empty());
}

TEST(PatternMatcherTest, CompileErrorCodes) {
    EXPECT_EQ(Compile(nullptr), kPatternNullPattern);
    EXPECT_EQ(Compile(L"{ab"), kPatternBraceExpected);
    EXPECT_EQ(Compile(L"{a(b}"), kPatternParenExpected);
    EXPECT_EQ(Compile(L"(ab"), kPatternParenExpected);
    EXPECT_EQ(Compile(L"[ab"), kPatternBracketExpected);
    EXPECT_EQ(Compile(L"[a-"), kPatternBracketExpected);
    EXPECT_EQ(Compile(L"[a-]"), kPatternBracketExpected);
    EXPECT_EQ(Compile(L"[a\\"), kPatternBracketExpected);
    EXPECT_EQ(Compile(L"ab)"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"ab}"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"ab]"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"*a"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"a|+"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"ab\\"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"a!"), kPatternUnexpected);
    EXPECT_EQ(Compile(L"[]"), kPatternEmptyClass);
    EXPECT_EQ(Compile(L"[^]"), kPatternEmptyClass);
    EXPECT_EQ(Compile(L"{a}\\1"), kPatternInvalidGroup);
    EXPECT_EQ(Compile(L"\\0{a}"), kPatternOk);  // groups are counted over the whole pattern
    EXPECT_EQ(Compile(L"[z-a]"), kPatternInvalidRange);
    EXPECT_EQ(Compile(L"(a*)*"), kPatternEmptyRepeat);
    EXPECT_EQ(Compile(L"{}+"), kPatternEmptyRepeat);
    EXPECT_EQ(Compile(L"(a|)?"), kPatternEmptyRepeat);
    EXPECT_EQ(Compile(L"a**"), kPatternEmptyRepeat);
    EXPECT_EQ(Compile(L"(!a)*"), kPatternEmptyRepeat);
    EXPECT_EQ(Compile(L"{a?}\\0+"), kPatternEmptyRepeat);
    EXPECT_EQ(Compile(L"(a+)+"), kPatternOk);
    EXPECT_EQ(Compile((std::wstring(300, L'(') + L"a" + std::wstring(300, L')')).c_str()),
              kPatternOutOfMemory);
    EXPECT_EQ(Compile((std::wstring(50, L'(') + L"a" + std::wstring(50, L')')).c_str()),
              kPatternOk);
}

TEST(PatternMatcherTest, LeftmostFirstPathNotLongest) {
    EXPECT_EQ(First(L"{a|ab}", L"xab"), L"a");
    EXPECT_EQ(First(L"{ab|a}", L"xab"), L"ab");
    EXPECT_EQ(First(L"{b+}", L"abbbcbb"), L"bbb");
    EXPECT_EQ(First(L"{b+?}", L"abbbcbb"), L"b");
    EXPECT_EQ(First(L"{.*}c", L"abcabc"), L"abcab");
    EXPECT_EQ(First(L"{.*?}c", L"abcabc"), L"ab");
    EXPECT_EQ(First(L"a{b?}", L"ab"), L"b");
    EXPECT_EQ(First(L"a{b??}", L"ab"), L"");
    // The last iteration of a repeated group is what the group captures.
    EXPECT_EQ(First(L"({[a-c]})+", L"abc!"), L"c");
    // A line break is matched by ".".
    EXPECT_EQ(First(L"a{.}b", L"a\nb"), L"\n");
}

TEST(PatternMatcherTest, ClassesWithRangesEscapesAndNegation) {
    EXPECT_EQ(First(L"{[a-cx]+}", L"--abxcd"), L"abxc");
    EXPECT_EQ(First(L"{[^a-c]+}", L"abXYc"), L"XY");
    EXPECT_EQ(First(L"{[\\-_]+}", L"a-_-b"), L"-_-");
    EXPECT_EQ(First(L"{[\\]x]+}", L"a]x]b"), L"]x]");
    EXPECT_EQ(First(L"{[\\t]}", L"a\tb"), L"\t");
    EXPECT_EQ(First(L"{[-a]+}", L"b-a-"), L"-a-");
    EXPECT_EQ(First(L"{[ab^]+}", L"x^ab"), L"^ab");
}

TEST(PatternMatcherTest, Abbreviations) {
    EXPECT_EQ(First(L"{\\a+}", L"-x9Y-"), L"x9Y");
    EXPECT_EQ(First(L"x\\b{\\c+}", L"x\tAbc1"), L"Abc");
    EXPECT_EQ(First(L"{\\d\\d}", L"a1b23"), L"23");
    EXPECT_EQ(First(L"{\\h+}", L"0x1fAg"), L"0");
    EXPECT_EQ(First(L"x{\\h+}", L"0x1fAg"), L"1fA");
    EXPECT_EQ(First(L"{\\w}", L"12 abc1"), L"abc");
    EXPECT_EQ(First(L"{\\z}", L"ab 042x"), L"042");
    EXPECT_EQ(First(L"{\\q}", L"say \"hi 'x'\" now"), L"\"hi 'x'\"");
    EXPECT_EQ(First(L"{\\q}", L"say 'a\"b' now"), L"'a\"b'");
    // Line ends: CR alone, LF alone, CR LF (the carriage return alone comes first).
    EXPECT_EQ(First(L"a{\\n}", L"a\rb"), L"\r");
    EXPECT_EQ(First(L"a{\\n}", L"a\nb"), L"\n");
    EXPECT_EQ(First(L"a{\\n}", L"a\r\nb"), L"\r");
    EXPECT_EQ(First(L"a{\\n}b", L"a\r\nb"), L"\r\n");
    // Any other escaped character is literal, special or not.
    EXPECT_EQ(First(L"{\\.\\*\\{\\x}", L"a.*{x"), L".*{x");
}

TEST(PatternMatcherTest, Anchors) {
    EXPECT_EQ(First(L"^{ab}", L"abab"), L"ab");
    EXPECT_EQ(First(L"^{b}", L"ab"), L"<none>");
    EXPECT_EQ(First(L"{b}$", L"bab"), L"b");
    EXPECT_EQ(First(L"{a}$", L"ab"), L"<none>");
    EXPECT_EQ(First(L"{a^b}", L"xa^b"), L"a^b");
    EXPECT_EQ(First(L"{a$b}", L"xa$b"), L"a$b");
    EXPECT_EQ(First(L"{a\\$}", L"a$b"), L"a$");
    EXPECT_EQ(First(L"{a\\\\}$", L"xa\\"), L"a\\");
    // Every match of an anchored pattern starts at the start of the text.
    EXPECT_EQ(Find(L"^{a}", L"aaa"), Captures{L"a"});
}

TEST(PatternMatcherTest, CaseInsensitiveMatchingKeepsTheCallersCase) {
    EXPECT_EQ(First(L"NAME={[a-z]+}", L"name=JoHn;", false), L"JoHn");
    EXPECT_EQ(First(L"name={[A-Z]+}", L"NAME=abc", false), L"abc");
    EXPECT_EQ(First(L"name={[A-Z]+}", L"NAME=abc", true), L"<none>");
    EXPECT_EQ(First(L"{\u00c9t\u00c9}", L"x\u00e9T\u00e9", false), L"\u00e9T\u00e9");
}

TEST(PatternMatcherTest, NegationConsumesNothing) {
    EXPECT_EQ(First(L"{a}!b", L"ab ac"), L"a");
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Parse(L"{a}!b", true), kPatternOk);
    CPatternMatcher::CMatchContext context;
    ASSERT_TRUE(matcher.Match(L"ab ac", context));
    EXPECT_EQ(context.GroupStart(0), 3u);
    EXPECT_EQ(context.MatchEnd(), 4u);
    // A negated group leaves no captures behind.
    ASSERT_EQ(matcher.Parse(L"!{x}{\\w}", true), kPatternOk);
    CPatternMatcher::CMatchContext other;
    ASSERT_TRUE(matcher.Match(L"xy zz", other));
    EXPECT_FALSE(other.GroupMatched(0));
    EXPECT_EQ(other.GroupStart(1), 1u);
    EXPECT_EQ(First(L"{!(ab)\\c\\c}", L"ab ac"), L"ac");
}

TEST(PatternMatcherTest, BackReferences) {
    EXPECT_EQ(First(L"{\\w}-\\0", L"ab-cd ab-ab"), L"ab");
    EXPECT_EQ(First(L"{\\w}-\\0", L"ab-cd"), L"<none>");
    EXPECT_EQ(First(L"{\\w}=\\0", L"Ab=aB", false), L"Ab");
    // A group that took no part cannot be referred to.
    EXPECT_EQ(First(L"({a}|b)\\0", L"bb"), L"<none>");
}

TEST(PatternMatcherTest, SeveralGroupsAndTheDuplicateRule) {
    const wchar_t* text = L"k=v; K=V; k=w; x";
    EXPECT_EQ(Find(L"{\\w}={\\w}", text, false, 2), (Captures{L"k", L"v", L"k", L"w"}));
    EXPECT_EQ(Find(L"{\\w}={\\w}", text, false, 2, true),
              (Captures{L"k", L"v", L"K", L"V", L"k", L"w"}));
    // Asking for more groups than took part stops at the first missing one.
    EXPECT_EQ(Find(L"{a}({b})?", L"ab a", true, 3), (Captures{L"a", L"b", L"a"}));
    // A match that captures nothing adds nothing, but does not stop the search.
    EXPECT_EQ(Find(L"x|{y}", L"xy", true), Captures{L"y"});
}

TEST(PatternMatcherTest, ZeroLengthMatchesMoveOn) {
    EXPECT_EQ(Find(L"{b|}", L"xbb", true, 1, true), (Captures{L"", L"b", L"b"}));
    EXPECT_EQ(Find(L"{b|}", L"xbb", true, 1, false), (Captures{L"", L"b"}));
}

TEST(PatternMatcherTest, MatchFromAnOffsetAndWithAFreshText) {
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Parse(L"{\\d+}", true), kPatternOk);
    EXPECT_EQ(matcher.GroupCount(), 1);
    CPatternMatcher::CMatchContext context;
    std::wstring first = L"a12b345";
    ASSERT_TRUE(matcher.Match(first, context, 3));
    EXPECT_EQ(context.GroupStart(0), 4u);
    EXPECT_EQ(context.GroupEnd(0), 7u);
    EXPECT_FALSE(matcher.Match(first, context, 7));
    std::wstring second = L"9";
    ASSERT_TRUE(matcher.Match(second, context));
    EXPECT_EQ(context.GroupEnd(0), 1u);
    EXPECT_FALSE(context.GroupMatched(1));
}

// Found by fuzzing: the context kept what it had learnt under the previous
// pattern (failed states, sized for its branches) and took it for the new one.
TEST(PatternMatcherTest, ParsingAgainStartsTheContextAfresh) {
    CPatternMatcher matcher;
    CPatternMatcher::CMatchContext context;
    const std::wstring text = L"aaab";
    ASSERT_EQ(matcher.Parse(L"{a*}x", true), kPatternOk);
    EXPECT_FALSE(matcher.Match(text, context));
    ASSERT_EQ(matcher.Parse(L"{a*}b", true), kPatternOk);
    ASSERT_TRUE(matcher.Match(text, context));
    EXPECT_EQ(context.MatchStart(), 0u);
    EXPECT_EQ(context.MatchEnd(), 4u);
    // A pattern with more branches than the last one must not read past
    // what the context holds (AddressSanitizer in linux-asan).
    ASSERT_EQ(matcher.Parse(L"{(a|b|aa|ab)+(a|b)*}$", true), kPatternOk);
    ASSERT_TRUE(matcher.Match(text, context));
    EXPECT_EQ(context.GroupEnd(0), 4u);
}

// Each repetition operator wraps the item once more, and a
// long chain of them recursed without bound when compiled and freed.
TEST(PatternMatcherTest, RepetitionChainsCountTowardsTheNestingLimit) {
    CPatternMatcher matcher;
    for (const wchar_t* op : {L"+", L"+?", L"?", L"*"}) {
        SCOPED_TRACE(kx::WideToUtf8(op));
        std::wstring pattern = L"a+";
        for (int i = 0; i < 100000; ++i) pattern += op;
        const int expected = std::wstring(op) == L"+" || std::wstring(op) == L"+?"
                                 ? kPatternOutOfMemory
                                 : kPatternEmptyRepeat;  // a repeated optional item
        EXPECT_EQ(matcher.Parse(pattern.c_str(), true), expected);
    }
    std::wstring allowed = L"a";
    for (int i = 1; i < CPatternMatcher::kMaxPatternDepth; ++i) allowed += L"+";
    ASSERT_EQ(matcher.Parse(allowed.c_str(), true), kPatternOk);
    CPatternMatcher::CMatchContext context;
    EXPECT_TRUE(matcher.Match(std::wstring(L"baab"), context));
    EXPECT_EQ(context.MatchEnd(), 3u);
}

// These would run for ages on a plain backtracking engine; here they finish
// at once. Their speed is measured by bench_pattern_matcher.
TEST(PatternMatcherTest, HostileInputStaysBounded) {
    std::wstring as(20000, L'a');
    EXPECT_EQ(Find(L"{(a|aa)+}b", as), Captures{});
    EXPECT_EQ(Find(L"{(a+)+}b", as), Captures{});
    EXPECT_EQ(Find(L"{(.a|.)*}x", as), Captures{});
    EXPECT_EQ(Find(L"{(a|a)*c}", as + L"c"), Captures{as + L"c"});

    std::wstring header = L"Set-Cookie: ";
    header.append(64 * 1024, L'x');
    EXPECT_EQ(Find(L"Set-Cookie:\\b*{.+?}\\n", header), Captures{});
    EXPECT_EQ(Find(L"Set-Cookie:\\b*{.+?}\\n", header + L"\r\n"), Captures{header.substr(12)});
}

TEST(PatternMatcherTest, BackReferencePatternsRunOutOfBudgetInsteadOfTime) {
    CPatternMatcher matcher;
    ASSERT_EQ(matcher.Parse(L"{(a|a)+}\\0b", true), kPatternOk);
    CPatternMatcher::CMatchContext context;
    EXPECT_FALSE(matcher.Match(std::wstring(60, L'a'), context));
    EXPECT_TRUE(context.BudgetExhausted());
    std::wstring small = L"aaaab";
    EXPECT_TRUE(matcher.Match(small, context));
    EXPECT_FALSE(context.BudgetExhausted());
    EXPECT_EQ(context.GroupEnd(0) - context.GroupStart(0), 2u);
}
