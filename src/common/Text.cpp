#include "common/Text.h"

#include <climits>

#include "platform/CaseMapping.h"

namespace kx {
namespace {

constexpr bool kWideIsUtf16 = WCHAR_MAX <= 0xFFFF;
constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Walks a wide string as code points; on Windows pairs are joined, a lone
// surrogate is handed on as its own value.
template <typename Visit>
void ForEachCodePoint(std::wstring_view text, Visit visit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (kWideIsUtf16) {
            c &= 0xFFFF;
            if (IsHighSurrogate(c) && i + 1 < text.size()) {
                char32_t next = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
                if (IsLowSurrogate(next)) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                    ++i;
                }
            }
        }
        visit(c);
    }
}

void AppendCodePoint(std::wstring& out, char32_t c) {
    if constexpr (kWideIsUtf16) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i past it. Overlong forms,
// surrogates and truncated sequences give U+FFFD for their first byte only.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5) length = 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    char32_t c = lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k) {
        unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return c;
}

}  // namespace

std::u16string WideToUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    if constexpr (kWideIsUtf16) {
        for (wchar_t c : text) out.push_back(static_cast<char16_t>(c));
    } else {
        for (wchar_t w : text) {
            char32_t c = static_cast<char32_t>(w);
            if (c > 0x10FFFF) c = kReplacement;
            if (c >= 0x10000) {
                c -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(c));
            }
        }
    }
    return out;
}

std::wstring Utf16ToWide(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (!kWideIsUtf16 && IsHighSurrogate(c) && i + 1 < text.size() &&
            IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

// One pass into storage sized up front: alert documents of megabytes go
// through here.
std::string WideToUtf16LE(std::wstring_view text) {
    std::size_t units = text.size();
    if constexpr (!kWideIsUtf16) {
        for (wchar_t w : text) {
            const char32_t c = static_cast<char32_t>(w);
            units += c >= 0x10000 ? 1 : 0;
        }
    }
    std::string bytes(units * 2, '\0');
    char* out = bytes.data();
    auto put = [&out](char32_t u) {
        *out++ = static_cast<char>(u & 0xFF);
        *out++ = static_cast<char>((u >> 8) & 0xFF);
    };
    for (wchar_t w : text) {
        char32_t c = static_cast<char32_t>(w);
        if constexpr (!kWideIsUtf16) {
            if (c > 0x10FFFF) c = kReplacement;
            if (c >= 0x10000) {
                c -= 0x10000;
                put(0xD800 + (c >> 10));
                put(0xDC00 + (c & 0x3FF));
                continue;
            }
        }
        put(c);
    }
    return bytes;
}

std::wstring Utf16LEToWide(const void* data, std::size_t byteCount) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::size_t count = byteCount / 2;
    auto unit = [bytes](std::size_t i) {
        return static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    std::wstring out(count, L'\0');
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = unit(i);
        if (!kWideIsUtf16 && IsHighSurrogate(c) && i + 1 < count && IsLowSurrogate(unit(i + 1))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        }
        out[length++] = static_cast<wchar_t>(c);
    }
    out.resize(length);
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&](char32_t c) { AppendUtf8(out, c); });
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) AppendCodePoint(out, DecodeUtf8(text, i));
    return out;
}

wchar_t ToLowerChar(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return platform::LowerNonAscii(c);
}

wchar_t ToUpperChar(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return platform::UpperNonAscii(c);
}

std::wstring ToLower(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = ToLowerChar(c);
    return out;
}

std::wstring ToUpper(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = ToUpperChar(c);
    return out;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        // Compare as unsigned code units so that the order is the same whatever
        // the signedness of wchar_t.
        auto x = static_cast<uint32_t>(ToLowerChar(a[i]));
        auto y = static_cast<uint32_t>(ToLowerChar(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::size_t FindNoCase(std::wstring_view text, std::wstring_view needle) {
    if (needle.empty()) return 0;
    if (needle.size() > text.size()) return std::wstring_view::npos;
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (EqualsNoCase(text.substr(i, needle.size()), needle)) return i;
    }
    return std::wstring_view::npos;
}

bool IsSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

std::wstring Trim(std::wstring_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

int32_t ParseDecimal(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

int DigitValue(wchar_t c, unsigned base) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (base != 16) return -1;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to) {
    std::wstring result;
    std::size_t at = 0;
    for (std::size_t found = text.find(from); !from.empty() && found != std::wstring_view::npos;
         found = text.find(from, at)) {
        result.append(text.substr(at, found - at));
        result.append(to);
        at = found + from.size();
    }
    result.append(text.substr(at));
    return result;
}

}  // namespace kx
