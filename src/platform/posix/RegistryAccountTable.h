#pragma once
// The local accounts of a Linux machine as an operator keeps them in the
// machine's registry, one key per account below
// HKEY_LOCAL_MACHINE\SAM\Accounts, named by the account's SID string:
//   "Name"    REG_SZ     the account name (required)
//   "Domain"  REG_SZ     its domain; the computer's own name when missing
//   "Use"     REG_DWORD  its SID_NAME_USE; 1 (a user) when missing
// For example: kxreg add "HKLM\SAM\Accounts\S-1-5-21-1-2-3-1001" /v Name /d alice
// Each lookup reads the registry, so a change is seen at once.

#include "platform/posix/LocalAccounts.h"

namespace kx::platform {

inline constexpr wchar_t kLocalAccountsKey[] = L"SAM\\Accounts";

class CRegistryAccountTable : public ILocalAccountTable {
public:
    bool FindBySid(const SidBytes& sid, LocalAccount& found) const override;
    bool FindByName(std::wstring_view domain, std::wstring_view name,
                    LocalAccount& found) const override;

private:
    // The account of one key below the table; false when it has no name
    // or its key name is not a SID.
    static bool ReadAccount(const std::wstring& sidText, LocalAccount& found);
};

}  // namespace kx::platform
