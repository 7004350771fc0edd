#pragma once
// The local computer's own users and groups (and the computer's own domain),
// which Windows keeps in its account database. On Linux an operator keeps
// them in a table of the machine's registry (posix/RegistryAccountTable.h),
// which answers unless a test installs a table of its own here.

#include <memory>
#include <string_view>

#include "platform/Accounts.h"

namespace kx::platform {

struct LocalAccount {
    SidBytes sid;
    AccountName account;
};

class ILocalAccountTable {
public:
    virtual ~ILocalAccountTable() = default;
    virtual bool FindBySid(const SidBytes& sid, LocalAccount& found) const = 0;
    // Names compare ignoring case; an empty domain matches any domain.
    virtual bool FindByName(std::wstring_view domain, std::wstring_view name,
                            LocalAccount& found) const = 0;
};

// Installs the table the account lookups consult after the well-known SIDs
// (null: the registry's table again); returns the one installed before.
std::shared_ptr<const ILocalAccountTable> SetLocalAccountTable(
    std::shared_ptr<const ILocalAccountTable> table);
std::shared_ptr<const ILocalAccountTable> GetLocalAccountTable();

}  // namespace kx::platform
