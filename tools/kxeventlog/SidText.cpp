#include "SidText.h"

#include "common/Format.h"

namespace {

constexpr std::size_t kMaximumSubAuthorities = 15;

std::optional<uint64_t> ParsePart(const std::wstring& part, uint64_t limit) {
    if (part.empty() || part.size() > 20) return std::nullopt;
    const bool hex = part.size() > 2 && part[0] == L'0' && (part[1] == L'x' || part[1] == L'X');
    uint64_t value = 0;
    for (std::size_t i = hex ? 2 : 0; i < part.size(); ++i) {
        wchar_t c = part[i];
        uint64_t digit;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<uint64_t>(c - L'0');
        } else if (hex && c >= L'a' && c <= L'f') {
            digit = static_cast<uint64_t>(c - L'a' + 10);
        } else if (hex && c >= L'A' && c <= L'F') {
            digit = static_cast<uint64_t>(c - L'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + digit;
        if (value > limit) return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseSidText(const std::wstring& text) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t dash; (dash = text.find(L'-', start)) != std::wstring::npos; start = dash + 1)
        parts.push_back(text.substr(start, dash - start));
    parts.push_back(text.substr(start));
    if (parts.size() < 3 || parts.size() > 3 + kMaximumSubAuthorities) return std::nullopt;
    if (parts[0] != L"S" && parts[0] != L"s") return std::nullopt;
    if (parts[1] != L"1") return std::nullopt;
    std::optional<uint64_t> authority = ParsePart(parts[2], 0xFFFFFFFFFFFFull);
    if (!authority) return std::nullopt;
    std::vector<uint8_t> sid = {1, static_cast<uint8_t>(parts.size() - 3)};
    for (int shift = 40; shift >= 0; shift -= 8)
        sid.push_back(static_cast<uint8_t>(*authority >> shift));
    for (std::size_t i = 3; i < parts.size(); ++i) {
        std::optional<uint64_t> sub = ParsePart(parts[i], 0xFFFFFFFFull);
        if (!sub) return std::nullopt;
        for (int shift = 0; shift < 32; shift += 8)
            sid.push_back(static_cast<uint8_t>(*sub >> shift));
    }
    return sid;
}

std::wstring SidToText(std::span<const uint8_t> sid) {
    if (sid.size() < 8 || sid[0] != 1 || sid[1] > kMaximumSubAuthorities ||
        sid.size() != 8 + 4 * std::size_t{sid[1]})
        return std::wstring();
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
    // Windows writes authorities that do not fit 32 bits in hexadecimal.
    std::wstring text = authority > 0xFFFFFFFFull ? kx::Format(L"S-1-0x%012I64X", authority)
                                                  : kx::Format(L"S-1-%I64u", authority);
    for (std::size_t i = 0; i < sid[1]; ++i) {
        const uint8_t* p = &sid[8 + 4 * i];
        uint32_t sub = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
        text += kx::Format(L"-%u", sub);
    }
    return text;
}
