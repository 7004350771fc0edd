#pragma once
// The accounts of the domain this Linux machine belongs to. On Windows the
// local security authority of a domain member asks the domain controller
// for the SIDs it does not know; a Linux member has no such authority, so
// the account lookups search the domain's directory itself, through the
// directory settings of the local computer's own name (posix/LdapSettings.h),
// by objectSid and sAMAccountName. Asking the directory keeps the names as
// current as the domain's own, where a copy kept on the machine would go
// stale. A machine whose registry names no directory for itself is no
// domain member and asks nobody. Names are given as Windows gives them: the
// domain's NetBIOS name and the account's sAMAccountName.

#include <string>
#include <string_view>

#include "platform/Accounts.h"

namespace kx::platform {

// sidText as ConvertSidToString writes it. False when the domain has no
// such account or its directory cannot be asked.
bool LookupDomainAccountBySid(const std::wstring& sidText, AccountName& account);
// domain empty, the domain's NetBIOS name or its DNS name (any letter case);
// account receives the domain's NetBIOS name, the name as asked and the use.
bool LookupDomainAccountByName(std::wstring_view domain, std::wstring_view name, SidBytes& sid,
                               AccountName& account);

}  // namespace kx::platform
