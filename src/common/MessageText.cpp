#include "common/MessageText.h"

#include <algorithm>
#include <limits>

#include "common/Format.h"
#include "common/Text.h"

namespace kx {
namespace {

// One insert reference: "%<number>" with its optional "!directive!".
struct InsertDirective {
    unsigned number = 0;
    bool plain = true;  // no directive: the text as it is
    std::wstring flags;
    int width = -1;
    bool widthFromInsert = false;
    int precision = -1;
    bool precisionFromInsert = false;
    std::wstring length;
    wchar_t conversion = L's';  // 0 for an empty directive ("%1!!")
    InsertReading reading = InsertReading::WideText;
};

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

int ParseCount(std::wstring_view text, std::size_t& pos) {
    int value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        value = std::min(value * 10 + (text[pos] - L'0'), 1000000);
        ++pos;
    }
    return value;
}

InsertReading ClassifyReading(std::wstring_view length, wchar_t conversion) {
    auto lengthIs = [&](std::initializer_list<std::wstring_view> names) {
        return std::find(names.begin(), names.end(), length) != names.end();
    };
    switch (conversion) {
        case L's':
            if (lengthIs({L"", L"l", L"w"})) return InsertReading::WideText;
            if (length == L"h") return InsertReading::AnsiText;
            break;
        case L'S':
            if (lengthIs({L"", L"h"})) return InsertReading::AnsiText;
            if (lengthIs({L"l", L"w"})) return InsertReading::WideText;
            break;
        case L'c':
        case L'C':
            if (lengthIs({L"", L"h", L"l", L"w"})) return InsertReading::Character;
            break;
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
        case L'o':
            if (lengthIs({L"", L"h", L"hh", L"l", L"ll", L"I64", L"I32", L"z"})) {
                return InsertReading::Number;
            }
            break;
        case L'p':
            if (length.empty()) return InsertReading::Number;
            break;
        default:
            break;
    }
    return InsertReading::Other;
}

// The directive between the exclamation marks, read as FormatMessageW
// reads it: flags (a "*" among them takes the width from the insert), width,
// precision (a number or "*"), then length prefix and conversion.
void ParseDirective(std::wstring_view text, InsertDirective& directive) {
    std::size_t pos = 0;
    for (; pos < text.size() &&
           std::wstring_view(L"0+- *#").find(text[pos]) != std::wstring_view::npos;
         ++pos) {
        if (text[pos] == L'*') {
            directive.widthFromInsert = true;
        } else {
            directive.flags.push_back(text[pos]);
        }
    }
    if (pos < text.size() && IsDigit(text[pos])) directive.width = ParseCount(text, pos);
    if (pos < text.size() && text[pos] == L'.') {
        ++pos;
        if (pos < text.size() && text[pos] == L'*') {
            directive.precisionFromInsert = true;
            ++pos;
        } else {
            directive.precision = ParseCount(text, pos);
        }
    }
    std::wstring_view rest = text.substr(pos);
    if (rest.empty()) {
        directive.conversion = 0;
        directive.reading = InsertReading::Other;
        return;
    }
    directive.conversion = rest.back();
    directive.length.assign(rest.substr(0, rest.size() - 1));
    directive.reading = ClassifyReading(directive.length, directive.conversion);
}

// Reads an insert reference whose first digit is at pos. False when its
// directive has no closing exclamation mark.
bool ParseInsert(std::wstring_view text, std::size_t& pos, InsertDirective& directive) {
    directive.number = text[pos++] - L'0';
    if (pos < text.size() && IsDigit(text[pos]))
        directive.number = directive.number * 10 + (text[pos++] - L'0');
    if (pos >= text.size() || text[pos] != L'!') return true;
    std::size_t close = text.find(L'!', pos + 1);
    if (close == std::wstring_view::npos) return false;
    directive.plain = false;
    ParseDirective(text.substr(pos + 1, close - pos - 1), directive);
    pos = close + 1;
    return true;
}

// A text ends at its first NUL, as the C strings of the platform call do.
std::wstring_view UpToNul(std::wstring_view text) {
    return text.substr(0, text.find(L'\0'));
}

class InsertFormatter {
public:
    explicit InsertFormatter(std::span<const std::wstring> inserts) : inserts_(inserts) {}

    void Append(const InsertDirective& directive, std::wstring& out) const {
        if (!directive.plain) {
            out += Format(directive);
        } else if (directive.number <= inserts_.size()) {
            out += UpToNul(inserts_[directive.number - 1]);
        } else {
            out += MissingInsertText(directive.number);
        }
    }

private:
    std::wstring Format(const InsertDirective& directive) const {
        unsigned index = directive.number;
        bool leftAlign = directive.flags.find(L'-') != std::wstring::npos;
        int width = directive.width;
        int precision = directive.precision;
        if (directive.widthFromInsert) {
            int64_t value = InsertNumber(Argument(index++), InsertReading::Number);
            if (value < 0) leftAlign = true;
            width = Clamp(value < 0 ? -value : value);
        }
        if (directive.precisionFromInsert) {
            int64_t value = InsertNumber(Argument(index++), InsertReading::Number);
            precision = value < 0 ? -1 : Clamp(value);
        }
        width = std::min(width, kMaxMessageInsertWidth);
        precision = std::min(precision, kMaxMessageInsertWidth);
        std::wstring value = Argument(index);
        if (directive.reading == InsertReading::Other) {
            return directive.conversion ? std::wstring(1, directive.conversion) : std::wstring();
        }
        std::wstring format = L"%" + directive.flags;
        if (leftAlign && directive.flags.find(L'-') == std::wstring::npos) format.push_back(L'-');
        if (width >= 0) format += std::to_wstring(width);
        if (precision >= 0) format += L"." + std::to_wstring(precision);
        switch (directive.reading) {
            case InsertReading::WideText:
            case InsertReading::AnsiText:
                return kx::Format(format + L"s", value);
            case InsertReading::Character:
                return kx::Format(format + L"c",
                                  static_cast<wchar_t>(InsertNumber(value, directive.reading)));
            default:
                return kx::Format(format + directive.length + directive.conversion,
                                  InsertNumber(value, directive.reading));
        }
    }

    std::wstring Argument(unsigned number) const {
        if (number >= 1 && number <= inserts_.size()) {
            return std::wstring(UpToNul(inserts_[number - 1]));
        }
        return MissingInsertText(number);
    }

    static int Clamp(int64_t value) {
        return static_cast<int>(std::min<int64_t>(value, kMaxMessageInsertWidth));
    }

    std::span<const std::wstring> inserts_;
};

void AppendLineBreak(std::wstring& out) {
    out.append(L"\r\n");
}

}  // namespace

uint32_t FormatMessageText(std::wstring_view text, InsertHandling handling,
                           std::span<const std::wstring> inserts, std::wstring& result) {
    text = UpToNul(text);
    const bool ignore = handling == InsertHandling::Ignore;
    InsertFormatter formatter(inserts);
    std::wstring out;
    out.reserve(text.size() * 2);
    std::size_t pos = 0;
    while (pos < text.size()) {
        wchar_t c = text[pos++];
        if (c == L'\r') {
            if (pos < text.size() && text[pos] == L'\n') ++pos;
            AppendLineBreak(out);
            continue;
        }
        if (c == L'\n') {
            AppendLineBreak(out);
            continue;
        }
        if (c != L'%') {
            out.push_back(c);
            continue;
        }
        if (pos >= text.size()) return kMessageErrorInvalidParameter;
        wchar_t next = text[pos];
        if (next >= L'1' && next <= L'9' && !ignore) {
            InsertDirective directive;
            if (!ParseInsert(text, pos, directive)) return kMessageErrorInvalidParameter;
            formatter.Append(directive, out);
            if (out.size() > kMaxMessageLength) return kMessageErrorNotEnoughMemory;
            continue;
        }
        ++pos;
        if (next == L'0') break;
        if (next == L'n') {
            AppendLineBreak(out);
        } else if (next == L'r') {
            out.push_back(L'\r');
        } else if (next == L't') {
            out.push_back(L'\t');
        } else {
            // Any other character stands for itself, taken as it is (a CR
            // here is not made a line break); ignoring inserts keeps the pair.
            if (ignore) out.push_back(L'%');
            out.push_back(next);
        }
    }
    if (out.empty()) return kMessageErrorEmptyText;
    result = std::move(out);
    return 0;
}

MessageInsertScan ScanMessageInserts(std::wstring_view text) {
    text = UpToNul(text);
    MessageInsertScan scan;
    auto note = [&scan](unsigned number, InsertReading reading) {
        if (number > kMaxMessageInsert + 1) return;
        scan.readings[number] |= static_cast<uint8_t>(reading);
        scan.highest = std::max(scan.highest, number);
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos++] != L'%' || pos >= text.size()) continue;
        wchar_t next = text[pos];
        if (next == L'0') break;
        if (next < L'1' || next > L'9') {
            ++pos;
            continue;
        }
        InsertDirective directive;
        if (!ParseInsert(text, pos, directive)) break;
        unsigned index = directive.number;
        if (directive.widthFromInsert) note(index++, InsertReading::Number);
        if (directive.precisionFromInsert) note(index++, InsertReading::Number);
        scan.readsWidthFromInsert |= directive.widthFromInsert || directive.precisionFromInsert;
        note(index, directive.reading);
    }
    return scan;
}

std::wstring MissingInsertText(unsigned number) {
    return L"%" + std::to_wstring(number);
}

int64_t InsertNumber(std::wstring_view text, InsertReading reading) {
    text = UpToNul(text);
    if (reading == InsertReading::Character) {
        return text.empty() ? 0 : static_cast<int64_t>(static_cast<uint32_t>(text[0]));
    }
    std::size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) {
        negative = text[pos++] == L'-';
    }
    unsigned base = 10;
    if (pos + 1 < text.size() && text[pos] == L'0' &&
        (text[pos + 1] == L'x' || text[pos + 1] == L'X')) {
        base = 16;
        pos += 2;
    }
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digitValue = DigitValue(text[pos], base);
        if (digitValue < 0) break;
        const unsigned digit = static_cast<unsigned>(digitValue);
        magnitude = magnitude > (kLimit - digit) / base ? kLimit : magnitude * base + digit;
    }
    int64_t value = static_cast<int64_t>(magnitude);
    return negative ? -value : value;
}

}  // namespace kx
