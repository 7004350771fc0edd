#include "platform/Accounts.h"

#include <optional>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/Process.h"
#include "platform/posix/DomainAccounts.h"
#include "platform/posix/LocalAccounts.h"
#include "platform/posix/WellKnownSids.h"

namespace kx::platform {
namespace {

constexpr std::size_t kSidHeaderBytes = 8;
constexpr std::size_t kMaxSubAuthorities = 15;
constexpr uint64_t kMaxAuthority = 0xFFFFFFFFFFFFull;  // six bytes

uint32_t Fail(uint32_t error) {
    SetLastErrorCode(error);
    return error;
}

// One number of a SID string: decimal, or hexadecimal after "0x", no sign,
// at most limit. Advances pos past it.
std::optional<uint64_t> ParseSidNumber(std::wstring_view text, std::size_t& pos, uint64_t limit) {
    unsigned base = 10;
    if (pos + 1 < text.size() && text[pos] == L'0' &&
        (text[pos + 1] == L'x' || text[pos + 1] == L'X')) {
        base = 16;
        pos += 2;
    }
    const std::size_t start = pos;
    uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digitValue = DigitValue(text[pos], base);
        if (digitValue < 0) break;
        const unsigned digit = static_cast<unsigned>(digitValue);
        value = value * base + digit;
        if (value > limit) return std::nullopt;
    }
    if (pos == start) return std::nullopt;
    return value;
}

std::optional<SidBytes> ParseSidString(std::wstring_view text) {
    if (text.size() < 2 || (text[0] != L'S' && text[0] != L's') || text[1] != L'-') {
        return std::nullopt;
    }
    std::size_t pos = 2;
    auto revision = ParseSidNumber(text, pos, 0xFF);
    if (revision != 1u || pos >= text.size() || text[pos++] != L'-') return std::nullopt;
    auto authority = ParseSidNumber(text, pos, kMaxAuthority);
    if (!authority) return std::nullopt;
    SidBytes sid = {1, 0};
    for (int shift = 40; shift >= 0; shift -= 8)
        sid.push_back(static_cast<uint8_t>(*authority >> shift));
    while (pos < text.size()) {
        if (text[pos++] != L'-' || sid[1] == kMaxSubAuthorities) return std::nullopt;
        auto value = ParseSidNumber(text, pos, 0xFFFFFFFFu);
        if (!value) return std::nullopt;
        for (int shift = 0; shift < 32; shift += 8)
            sid.push_back(static_cast<uint8_t>(*value >> shift));
        ++sid[1];
    }
    if (sid[1] == 0) return std::nullopt;
    return sid;
}

std::optional<std::wstring_view> FindAlias(std::wstring_view text) {
    for (const SddlAlias& alias : SddlAliases()) {
        if (EqualsNoCase(alias.alias, text)) return alias.sid;
    }
    return std::nullopt;
}

// Only this computer answers: no name, its own name, or "\\" and its name.
bool IsLocalComputer(const std::wstring& computer) {
    std::wstring_view name = computer;
    if (name.size() >= 2 && name[0] == L'\\' && name[1] == L'\\') name.remove_prefix(2);
    return name.empty() || EqualsNoCase(name, GetLocalComputerName());
}

void SplitAccountName(std::wstring_view text, std::wstring_view& domain, std::wstring_view& name,
                      bool& hasDomain) {
    std::size_t slash = text.find(L'\\');
    hasDomain = slash != std::wstring_view::npos;
    domain = hasDomain ? text.substr(0, slash) : std::wstring_view();
    name = hasDomain ? text.substr(slash + 1) : text;
}

}  // namespace

uint32_t ConvertStringToSid(std::wstring_view text, SidBytes& sid) {
    if (auto alias = FindAlias(text)) text = *alias;
    std::optional<SidBytes> parsed = ParseSidString(text);
    if (!parsed) return Fail(kErrorInvalidSid);
    sid = std::move(*parsed);
    return 0;
}

uint32_t ConvertSidToString(const void* sid, std::size_t size, std::wstring& text) {
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    if (!sid || size < kSidHeaderBytes || bytes[0] != 1 || bytes[1] > kMaxSubAuthorities ||
        size < kSidHeaderBytes + 4u * bytes[1]) {
        return Fail(kErrorInvalidSid);
    }
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = authority << 8 | bytes[i];
    std::wstring result = L"S-1-";
    if (authority > 0xFFFFFFFFu) {
        static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
        result += L"0x";
        for (int shift = 44; shift >= 0; shift -= 4)
            result.push_back(kHex[(authority >> shift) & 0xF]);
    } else {
        result += std::to_wstring(authority);
    }
    for (std::size_t i = 0; i < bytes[1]; ++i) {
        const uint8_t* part = bytes + kSidHeaderBytes + 4 * i;
        uint32_t value =
            part[0] | part[1] << 8 | part[2] << 16 | static_cast<uint32_t>(part[3]) << 24;
        result += L"-" + std::to_wstring(value);
    }
    text = std::move(result);
    return 0;
}

uint32_t LookupAccountBySid(const std::wstring& computer, const SidBytes& sid,
                            AccountName& account) {
    std::wstring text;
    if (ConvertSidToString(sid.data(), sid.size(), text) != 0) return Fail(kErrorInvalidSid);
    if (!IsLocalComputer(computer)) return Fail(kErrorRpcServerUnavailable);
    for (const WellKnownSid& known : WellKnownSids()) {
        if (known.sid == text) {
            account = {std::wstring(known.domain), std::wstring(known.name), known.use};
            return 0;
        }
    }
    LocalAccount local;
    if (auto table = GetLocalAccountTable(); table && table->FindBySid(sid, local)) {
        account = local.account;
        return 0;
    }
    if (LookupDomainAccountBySid(text, account)) return 0;
    return Fail(kErrorNoneMapped);
}

uint32_t LookupAccountByName(const std::wstring& computer, const std::wstring& name, SidBytes& sid,
                             AccountName& account) {
    if (!IsLocalComputer(computer)) return Fail(kErrorRpcServerUnavailable);
    std::wstring_view domainPart;
    std::wstring_view namePart;
    bool hasDomain = false;
    SplitAccountName(name, domainPart, namePart, hasDomain);
    if (namePart.empty()) return Fail(kErrorNoneMapped);
    for (const WellKnownSid& known : WellKnownSids()) {
        if (EqualsNoCase(known.name, namePart) &&
            (!hasDomain || EqualsNoCase(known.domain, domainPart))) {
            ConvertStringToSid(known.sid, sid);
            account = {std::wstring(known.domain), std::wstring(namePart), known.use};
            return 0;
        }
    }
    LocalAccount local;
    if (auto table = GetLocalAccountTable();
        table && table->FindByName(domainPart, namePart, local)) {
        sid = local.sid;
        account = {local.account.domain, std::wstring(namePart), local.account.use};
        return 0;
    }
    if (LookupDomainAccountByName(domainPart, namePart, sid, account)) return 0;
    return Fail(kErrorNoneMapped);
}

}  // namespace kx::platform
