#pragma once
// Moving whole keys between the registry and ".reg" sections: export and
// import for the operator tool, and saving and restoring keys around tests.
// Works through the registry port, so the same on both platforms.

#include <cstdint>
#include <string>
#include <vector>

#include "common/RegFile.h"
#include "platform/Registry.h"

// Splits a full key path ("HKEY_LOCAL_MACHINE\SOFTWARE\X", or with the short
// root names HKLM, HKCU, HKCR, HKU) into its root and the subkey below it.
// False when the path does not begin with a root.
bool ParseRegistryPath(const std::wstring& path, kx::platform::RegistryKeyHandle* root,
                       std::wstring* subkey);

// The names of the key's subkeys, in the registry's order. 0, or the error code.
uint32_t ListSubkeyNames(kx::platform::RegistryKeyHandle key, std::vector<std::wstring>* names);

// The key with every value and every key below it, parents first, each
// section named with the root's full name. 0, or the error code (2 when the
// key does not exist).
uint32_t ExportRegistryKey(const std::wstring& path, std::vector<kx::RegFileKey>* keys);

// Applies the sections in order: creates keys, sets values, deletes values
// ("name"=-) and whole keys ([-key]; one that is already gone is fine).
// Stops at the first failure, with the section's path in *failedPath.
uint32_t ImportRegistryKeys(const std::vector<kx::RegFileKey>& keys, std::wstring* failedPath);
