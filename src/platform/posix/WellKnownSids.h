#pragma once
// The SIDs that are the same on every Windows computer, with the domain and
// name that LookupAccountSidW gives them on an English system, and the SDDL
// abbreviations that ConvertStringSidToSidW accepts for them.

#include <span>
#include <string_view>

#include "platform/Accounts.h"

namespace kx::platform {

struct WellKnownSid {
    std::wstring_view sid;
    std::wstring_view domain;
    std::wstring_view name;
    SidUse use;
};

struct SddlAlias {
    std::wstring_view alias;
    std::wstring_view sid;
};

std::span<const WellKnownSid> WellKnownSids();
std::span<const SddlAlias> SddlAliases();

}  // namespace kx::platform
