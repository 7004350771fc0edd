#include "common/LdapEscape.h"

#include "common/Format.h"

namespace kx {
namespace {

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}
bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
bool IsHexDigit(wchar_t c) {
    return IsDigit(c) || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

// Characters a value may hold only when escaped.
bool NeedsEscape(wchar_t c) {
    return c == L'\0' || c == L'"' || c == L'+' || c == L',' || c == L';' || c == L'<' ||
           c == L'>' || c == L'\\';
}
// What may follow a backslash besides two hexadecimal digits.
bool IsEscapable(wchar_t c) {
    return NeedsEscape(c) || c == L' ' || c == L'#' || c == L'=';
}

// Reads a descr ("CN", "msDS-x") or a numeric OID ("2.5.4.3") up to "=".
bool ReadAttributeType(const std::wstring& text, std::size_t& at) {
    const std::size_t start = at;
    if (at < text.size() && IsAsciiLetter(text[at])) {
        while (at < text.size() &&
               (IsAsciiLetter(text[at]) || IsDigit(text[at]) || text[at] == L'-'))
            ++at;
    } else {
        bool digitsBefore = false;
        while (at < text.size() && (IsDigit(text[at]) || text[at] == L'.')) {
            if (text[at] == L'.' && !digitsBefore) return false;
            digitsBefore = text[at] != L'.';
            ++at;
        }
        if (!digitsBefore) return false;
    }
    return at > start && at < text.size() && text[at] == L'=';
}

bool ReadHexString(const std::wstring& text, std::size_t& at) {
    const std::size_t start = ++at;  // after "#"
    while (at < text.size() && IsHexDigit(text[at])) ++at;
    const std::size_t digits = at - start;
    return digits > 0 && digits % 2 == 0;
}

// Reads one value up to the "," or "+" that ends it.
bool ReadValue(const std::wstring& text, std::size_t& at) {
    if (at < text.size() && text[at] == L'#') return ReadHexString(text, at);
    const std::size_t start = at;
    bool lastWasEscaped = false;
    while (at < text.size() && text[at] != L',' && text[at] != L'+') {
        const wchar_t c = text[at];
        if (c == L'\\') {
            if (at + 1 >= text.size()) return false;
            if (IsHexDigit(text[at + 1]) && at + 2 < text.size() && IsHexDigit(text[at + 2])) {
                at += 3;
            } else if (IsEscapable(text[at + 1])) {
                at += 2;
            } else {
                return false;
            }
            lastWasEscaped = true;
            continue;
        }
        if (NeedsEscape(c) || (c == L' ' && at == start)) return false;
        lastWasEscaped = false;
        ++at;
    }
    // A trailing blank belongs to the value only when escaped.
    return at == start || lastWasEscaped || text[at - 1] != L' ';
}

}  // namespace

std::wstring EscapeLdapFilterValue(const std::wstring& value) {
    std::wstring escaped;
    escaped.reserve(value.size());
    for (wchar_t c : value) {
        if (c == L'*' || c == L'(' || c == L')' || c == L'\\' || c == L'\0')
            escaped += Format(L"\\%02x", static_cast<unsigned>(c));
        else
            escaped += c;
    }
    return escaped;
}

bool IsDistinguishedName(const std::wstring& text) {
    if (text.empty()) return false;
    std::size_t at = 0;
    while (true) {
        if (!ReadAttributeType(text, at)) return false;
        ++at;  // "="
        if (!ReadValue(text, at)) return false;
        if (at == text.size()) return true;
        ++at;  // "," or "+"
    }
}

std::wstring EscapeAdsPathComponent(const std::wstring& dn) {
    std::wstring component;
    component.reserve(dn.size());
    for (std::size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == L'\\' && i + 1 < dn.size()) {
            component += dn[i];
            component += dn[++i];
        } else if (dn[i] == L'/') {
            component += L"\\/";
        } else {
            component += dn[i];
        }
    }
    return component;
}

std::wstring UnescapeAdsPathComponent(const std::wstring& component) {
    std::wstring dn;
    dn.reserve(component.size());
    for (std::size_t i = 0; i < component.size(); ++i) {
        if (component[i] == L'\\' && i + 1 < component.size()) {
            if (component[i + 1] != L'/') dn += component[i];
            dn += component[++i];
        } else {
            dn += component[i];
        }
    }
    return dn;
}

}  // namespace kx
