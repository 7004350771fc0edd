#pragma once
// Security identifiers and the accounts they stand for.
//   Windows: ConvertStringSidToSidW, ConvertSidToStringSidW, LookupAccountSidW
//            (name and domain buffers of 260 characters), LookupAccountNameW
//            (a SID buffer of 50 bytes, a domain buffer of 256 characters).
//   Linux:   the conversions, the well-known SIDs with the names Windows gives
//            them, then the local computer's own accounts
//            (posix/LocalAccounts.h), then those of the domain whose
//            directory the machine registry names for the local computer
//            (posix/DomainAccounts.h). Only the local computer answers.
// Errors are Win32 codes: 1337 a malformed SID or SID string, 1332 no account
// with that SID or name, 1722 a computer that cannot be reached.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx::platform {

inline constexpr uint32_t kErrorNoneMapped = 1332;
inline constexpr uint32_t kErrorInvalidSid = 1337;
inline constexpr uint32_t kErrorRpcServerUnavailable = 1722;

// A SID in its binary form (revision, count, authority, subauthorities).
using SidBytes = std::vector<uint8_t>;

// SID_NAME_USE.
enum class SidUse : uint32_t {
    User = 1,
    Group = 2,
    Domain = 3,
    Alias = 4,
    WellKnownGroup = 5,
    DeletedAccount = 6,
    Invalid = 7,
    Unknown = 8,
    Computer = 9,
    Label = 10,
};

struct AccountName {
    std::wstring domain;
    std::wstring name;
    SidUse use = SidUse::Unknown;
};

// "S-1-5-18" (or an SDDL abbreviation such as "SY") to binary: 0 or 1337.
uint32_t ConvertStringToSid(std::wstring_view text, SidBytes& sid);
// The first size bytes at sid, which must hold one whole valid SID, to text:
// 0 or 1337. Safe on bytes from outside: nothing past size is read.
uint32_t ConvertSidToString(const void* sid, std::size_t size, std::wstring& text);

// The account of a SID on a computer (empty: this computer): 0, 1332, 1337, 1722.
uint32_t LookupAccountBySid(const std::wstring& computer, const SidBytes& sid,
                            AccountName& account);
// The SID of an account name ("name" or "domain\name", any letter case) on a
// computer: 0, 1332, 1722. account receives the account's domain and use,
// and the name part of the request.
uint32_t LookupAccountByName(const std::wstring& computer, const std::wstring& name, SidBytes& sid,
                             AccountName& account);

}  // namespace kx::platform
