#pragma once
// The Win32 error code that stands for a C library errno value, so that the
// Linux ports answer in the same error language as Windows.

#include <cstdint>

namespace kx::platform {

// fallback: the code for an errno value without a closer Win32 match
// (ERROR_GEN_FAILURE unless the port has a more telling one).
uint32_t Win32ErrorFromErrno(int error, uint32_t fallback = 31);

}  // namespace kx::platform
