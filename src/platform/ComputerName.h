#pragma once
// The local computer's NetBIOS name (GetComputerNameW). Linux takes the first
// label of the host name, in capitals and cut to 15 characters, as Windows
// forms a NetBIOS name; $KX_COMPUTER_NAME overrides it.

#include <string>

namespace kx::platform {

std::wstring GetLocalComputerName();

}  // namespace kx::platform
