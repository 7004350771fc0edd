#pragma once
// One string rule of an event definition: the insertion string it tests and
// the pattern that string must match.

#include <cstdint>
#include <string>

class CXMLEventDefinitionString {
public:
    int32_t StringNumber = 0;  // 1-based number of the record's insertion string
    std::wstring StringValue;  // the pattern

    // Whether text matches a pattern: alternatives separated by "|", each a
    // plain text equal to a whole item of the text, or "(contains)x" /
    // "(!contains)x". The text's items are separated by bars, tabs and line
    // breaks; letter case is ignored on both sides.
    static bool MatchStringRule(const std::wstring& pattern, const std::wstring& text);
};
