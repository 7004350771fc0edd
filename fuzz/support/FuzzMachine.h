#pragma once
// A machine of the fuzz process's own: an empty machine root (registry,
// event logs) and an executable folder (cache files, diagnostic log) in a
// fresh temporary folder, removed at exit, so that a target never touches
// the real machine and every input starts from the same empty state.

#include <filesystem>
#include <string>
#include <string_view>

namespace kx::fuzz {

// Sets the machine up on first use; later calls return the same folder.
const std::filesystem::path& FuzzMachineFolder();

// Writes bytes to a file below the folder, replacing what was there.
void WriteFuzzFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kx::fuzz
