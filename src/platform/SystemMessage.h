#pragma once
// The system's text for an error code (FormatMessageW from the system table,
// inserts ignored). Linux carries a built-in table of the common codes.

#include <cstdint>
#include <string>

namespace kx::platform {

// Empty when the system has no text for the code.
std::wstring GetSystemErrorText(uint32_t code);

}  // namespace kx::platform
