#pragma once
// The registry: the Reg*W calls on Windows; on Linux a registry kept in files
// under the machine root, one ".reg" file per root key
// (<root>/Registry/HKEY_LOCAL_MACHINE.reg and so on).
//
// Every call answers with a Win32 error code (0 on success). Value data is the
// bytes Windows stores: strings are UTF-16LE on both platforms, with whatever
// terminator the writer gave them.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {

// An HKEY: a predefined root or an opened key. Predefined roots are
// sign-extended as Windows does on 64-bit builds.
using RegistryKeyHandle = std::uintptr_t;

constexpr RegistryKeyHandle MakePredefinedRegistryKey(uint32_t value) {
    return static_cast<RegistryKeyHandle>(static_cast<std::intptr_t>(static_cast<int32_t>(value)));
}

inline constexpr RegistryKeyHandle kHkeyClassesRoot = MakePredefinedRegistryKey(0x80000000);
inline constexpr RegistryKeyHandle kHkeyCurrentUser = MakePredefinedRegistryKey(0x80000001);
inline constexpr RegistryKeyHandle kHkeyLocalMachine = MakePredefinedRegistryKey(0x80000002);
inline constexpr RegistryKeyHandle kHkeyUsers = MakePredefinedRegistryKey(0x80000003);

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// Access rights.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr uint32_t kKeyWow64_32Key = 0x0200;
inline constexpr uint32_t kKeyRead = 0x00020019;
inline constexpr uint32_t kKeyWrite = 0x00020006;
inline constexpr uint32_t kKeyAllAccess = 0x000F003F;

// Error codes the registry answers with.
inline constexpr uint32_t kRegistryFileNotFound = 2;
inline constexpr uint32_t kRegistryAccessDenied = 5;
inline constexpr uint32_t kRegistryInvalidHandle = 6;
inline constexpr uint32_t kRegistryBadNetPath = 53;
inline constexpr uint32_t kRegistryInvalidParameter = 87;
inline constexpr uint32_t kRegistryBadPathName = 161;
inline constexpr uint32_t kRegistryMoreData = 234;
inline constexpr uint32_t kRegistryNoMoreItems = 259;
inline constexpr uint32_t kRegistryCorrupt = 1015;  // ERROR_REGISTRY_CORRUPT
inline constexpr uint32_t kRegistryKeyDeleted = 1018;

// RegCreateKeyExW: no class, options 0, no security attributes. Creates the
// missing keys of the path and opens the last with the access given.
uint32_t RegistryCreateKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t access,
                           RegistryKeyHandle* result);
// RegOpenKeyExW, options 0.
uint32_t RegistryOpenKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t access,
                         RegistryKeyHandle* result);
// RegQueryValueExW. data may be null (the size alone is answered); when
// *size is too small for the data the answer is 234 with the size needed.
// type and size may be null when the caller does not need them.
uint32_t RegistryQueryValue(RegistryKeyHandle key, const std::wstring& name, uint32_t* type,
                            void* data, uint32_t* size);
// RegSetValueExW: stores size bytes exactly as given.
uint32_t RegistrySetValue(RegistryKeyHandle key, const std::wstring& name, uint32_t type,
                          const void* data, uint32_t size);
// RegEnumKeyW: the name of the subkey at index into a buffer of capacity
// characters (terminator included); 259 past the last, 234 when too small.
uint32_t RegistryEnumKey(RegistryKeyHandle key, uint32_t index, wchar_t* name, uint32_t capacity);

// One value as RegEnumValueW answers it.
struct RegistryValue {
    std::wstring name;
    uint32_t type = kRegNone;
    std::string data;  // the raw bytes
};
// RegEnumValueW at index; 259 past the last.
uint32_t RegistryEnumValue(RegistryKeyHandle key, uint32_t index, RegistryValue* value);

// RegQueryInfoKeyW. Lengths in characters without the terminator.
struct RegistryKeyInfo {
    uint32_t subkeyCount = 0;
    uint32_t maxSubkeyLength = 0;
    uint32_t valueCount = 0;
    uint32_t maxValueNameLength = 0;
    uint32_t maxValueDataSize = 0;
};
uint32_t RegistryQueryInfoKey(RegistryKeyHandle key, RegistryKeyInfo* info);

// RegDeleteKeyExW: a key without subkeys (5 otherwise). view is 0 or one of
// the 64/32-bit view flags.
uint32_t RegistryDeleteKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t view);
// RegDeleteTreeW: the subkey with everything below it.
uint32_t RegistryDeleteTree(RegistryKeyHandle parent, const std::wstring& subkey);
// RegDeleteValueW.
uint32_t RegistryDeleteValue(RegistryKeyHandle key, const std::wstring& name);
// RegConnectRegistryW. An empty machine name (or this computer's name)
// gives the local root; on Linux any other computer answers 53.
uint32_t RegistryConnect(const std::wstring& machine, RegistryKeyHandle predefined,
                         RegistryKeyHandle* result);
// RegFlushKey. Linux writes every change through to its file at once, so
// there it only checks the handle.
uint32_t RegistryFlushKey(RegistryKeyHandle key);
// RegCloseKey. Closing a predefined root does nothing and succeeds.
uint32_t RegistryCloseKey(RegistryKeyHandle key);

// The name of a predefined root ("HKEY_LOCAL_MACHINE" ...), empty for others.
inline std::wstring PredefinedRegistryKeyName(RegistryKeyHandle key) {
    if (key == kHkeyClassesRoot) return L"HKEY_CLASSES_ROOT";
    if (key == kHkeyCurrentUser) return L"HKEY_CURRENT_USER";
    if (key == kHkeyLocalMachine) return L"HKEY_LOCAL_MACHINE";
    if (key == kHkeyUsers) return L"HKEY_USERS";
    return std::wstring();
}

}  // namespace kx::platform
