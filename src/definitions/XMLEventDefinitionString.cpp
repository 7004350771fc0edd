#include "definitions/XMLEventDefinitionString.h"

#include <vector>

#include "common/Text.h"

namespace {

// The pieces between bars, empty ones skipped.
std::vector<std::wstring> SplitAtBars(const std::wstring& text) {
    std::vector<std::wstring> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t bar = text.find(L'|', start);
        if (bar == std::wstring::npos) bar = text.size();
        if (bar > start) pieces.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    return pieces;
}

bool AlternativeMatches(const std::wstring& alternative, const std::wstring& item) {
    if (alternative.empty() || alternative[0] != L'(') return item == alternative;
    const std::size_t close = alternative.find(L')', 1);
    const std::wstring op =
        close == std::wstring::npos ? std::wstring() : alternative.substr(1, close - 1);
    const std::wstring operand =
        close == std::wstring::npos ? alternative : alternative.substr(close + 1);
    if (op == L"contains") return item.find(operand) != std::wstring::npos;
    if (op == L"!contains") return item.find(operand) == std::wstring::npos;
    return item == alternative;
}

}  // namespace

bool CXMLEventDefinitionString::MatchStringRule(const std::wstring& pattern,
                                                const std::wstring& text) {
    std::wstring value = kx::Trim(text);
    for (wchar_t& c : value)
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L'|';
    const std::vector<std::wstring> items = SplitAtBars(kx::ToLower(value));
    for (const std::wstring& alternative : SplitAtBars(kx::ToLower(pattern))) {
        for (const std::wstring& item : items)
            if (AlternativeMatches(alternative, item)) return true;
    }
    return false;
}
