#pragma once
// The agent's files (cache files, diagnostic log, definitions copy) are
// SYSTEM's and the Administrators' alone: a DACL of those two, protected
// from what the folder passes on, so that no standard user can open them,
// neither to read nor to hold a handle that shuts the agent out.

#include <windows.h>

#include <cstdint>

namespace kx::platform {

// Security attributes that give a file created with them that DACL.
SECURITY_ATTRIBUTES* PrivateFileAttributes();
// Gives an open file that DACL (the handle needs WRITE_DAC); 0 or the error.
uint32_t MakeFilePrivate(HANDLE file);

}  // namespace kx::platform
