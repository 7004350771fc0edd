#pragma once
// The local computer's NetBIOS name (GetComputerNameW). Linux takes the first
// label of the host name, in capitals and cut to 15 characters, as Windows
// forms a NetBIOS name; $KX_COMPUTER_NAME overrides it.

#include <string>

namespace kx::platform {

std::wstring GetLocalComputerName();
// The computer's DNS domain (GetComputerNameExW, ComputerNamePhysicalDnsDomain,
// 256 characters); empty when it has none. Linux: what follows the first dot
// of the host's canonical name; $KX_DNS_DOMAIN overrides it.
std::wstring GetLocalDnsDomain();

}  // namespace kx::platform
