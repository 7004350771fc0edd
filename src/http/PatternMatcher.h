#pragma once
// The small regular-expression engine with which the HTTP client picks values
// out of response headers and checks response bodies.
//
// Syntax: literals; "." (any character, line breaks included); classes
// "[a-z\-_]" with ranges, backslash escapes ("\t" is a tab) and "^" negation;
// capture groups in braces "{...}" numbered from 0 in the order of their
// opening braces; non-capturing groups "(...)"; alternatives "|"; greedy
// "*", "+", "?" and their lazy forms "*?", "+?", "??"; the abbreviations
// \a \b \c \d \h \n \q \w \z; "^" first and "$" last as anchors; "!" (the
// following item must not match here, consuming nothing) and "\<digits>"
// (back-reference to a group). Any other escaped character is literal.
//
// Matching is leftmost and backtracking: the first path found wins, not the
// longest. Case-insensitive matching compares lower-cased forms of the pattern
// and the text; captures are positions, so they keep the caller's case.
//
// Running time is bounded: a failed (branch, position) state is remembered and
// never explored twice, so a match costs at most text length x branch count
// steps. Patterns with back-references cannot be memoised this way; they get a
// step budget instead, and running out of it counts as no match.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Compile results of CPatternMatcher::Parse.
enum PatternError : int {
    kPatternOk = 0,
    kPatternOutOfMemory = 1,      // memory ran out, or nesting deeper than kMaxPatternDepth
    kPatternBraceExpected = 2,    // a "{" group is not closed
    kPatternParenExpected = 3,    // a "(" group is not closed
    kPatternBracketExpected = 4,  // a class is not closed, or a range lacks its end
    kPatternUnexpected = 5,       // a stray ")", "}", "]", a repetition with nothing
                                  // before it, or a pattern ending in a backslash
    kPatternEmptyClass = 6,       // "[]" or "[^]"
    kPatternInvalidGroup = 7,     // back-reference to a group that does not exist
    kPatternInvalidRange = 8,     // a class range whose end lies below its start
    kPatternEmptyRepeat = 9,      // repetition of an item that can match the empty text
    kPatternNullPattern = 10,     // no pattern at all
};

class CPatternMatcher {
public:
    static constexpr int kMaxPatternDepth = 200;
    static constexpr uint64_t kBackReferenceStepBudget = 10'000'000;

    // The state of matching one text: captures of the last match and what the
    // engine has learnt about the text. A context serves one text and one parsed
    // pattern; give it another of either and it starts afresh.
    class CMatchContext {
    public:
        static constexpr std::size_t kUnset = static_cast<std::size_t>(-1);

        // Start and end (exclusive) of the capture group, kUnset when it took
        // no part in the match.
        std::size_t GroupStart(int group) const;
        std::size_t GroupEnd(int group) const;
        bool GroupMatched(int group) const { return GroupStart(group) != kUnset; }
        std::size_t MatchStart() const { return matchStart_; }
        std::size_t MatchEnd() const { return matchEnd_; }
        // True when a back-reference pattern ran out of its step budget.
        bool BudgetExhausted() const { return budgetExhausted_; }

    private:
        friend class CPatternMatcher;
        uint64_t program_ = 0;  // serial of the program the context was prepared for
        const wchar_t* textData_ = nullptr;
        std::size_t textSize_ = 0;
        std::wstring lowered_;
        std::vector<std::size_t> captures_;
        std::vector<uint64_t> failed_;  // bit per (branch, position)
        std::unordered_map<uint64_t, bool> lookaheads_;
        std::size_t matchStart_ = kUnset;
        std::size_t matchEnd_ = kUnset;
        uint64_t steps_ = 0;
        bool budgetExhausted_ = false;
    };

    CPatternMatcher();
    ~CPatternMatcher();
    CPatternMatcher(const CPatternMatcher&) = delete;
    CPatternMatcher& operator=(const CPatternMatcher&) = delete;

    // Compiles the pattern; 0 on success, else a PatternError. A null pattern
    // gives kPatternNullPattern.
    int Parse(const wchar_t* pattern, bool caseSensitive);
    int GroupCount() const;

    // Finds the leftmost match that starts at or after `from` (never at the
    // very end of the text) and fills the context.
    bool Match(std::wstring_view text, CMatchContext& context, std::size_t from = 0) const;

    // Every match of the pattern in the text, from left to right, each giving
    // the texts of its groups 0 to groupCount-1 (up to the first group that
    // took no part), appended to results. Without allowDuplicates, a match
    // whose captures equal, ignoring case, those of an earlier match adds
    // nothing. False when the pattern is null or empty, groupCount < 1, the
    // text is empty or the pattern does not compile; true otherwise, whether
    // anything matched or not. A match of zero length moves on by one character.
    static bool FindAllCaptures(const wchar_t* pattern, bool caseSensitive, int groupCount,
                                std::wstring_view text, std::vector<std::wstring>& results,
                                bool allowDuplicates);

    struct Program;

private:
    void Prepare(std::wstring_view text, CMatchContext& context) const;
    bool TryAt(std::wstring_view text, std::size_t start, CMatchContext& context) const;

    std::unique_ptr<Program> program_;
};
