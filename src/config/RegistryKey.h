#pragma once
// Registry access with defaults: every value operation opens the subkey,
// does one thing and closes it again, so no handle stays open between calls.
// Reads never fail loudly (they answer their default) and writes answer
// true or false. Not safe for use by two threads at once.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"

class CRegistryKey {
public:
    CRegistryKey();
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Only HKEY_CLASSES_ROOT to HKEY_USERS are accepted (1); anything else
    // answers 0 and changes nothing.
    int SetRoot(kx::platform::RegistryKeyHandle root);
    // The given root of another computer becomes the root (1), or 0.
    int Connect(const std::wstring& machine, kx::platform::RegistryKeyHandle root);
    // Every later open reads the 64-bit view of the registry.
    void UseWow64View();
    // Remembers the subkey for the value operations. With create set the key
    // is created when missing; if that is not allowed, an existing key is
    // opened for reading instead. False when the key cannot be opened.
    bool Open(const std::wstring& subkey, bool create);
    // The value's registry type, or 0 when the key or value cannot be read.
    uint32_t GetValueType(const std::wstring& name);
    // The first 4 bytes of the value whatever its type, or the default.
    uint32_t ReadDword(const std::wstring& name, uint32_t defaultValue);
    // A REG_SZ or REG_EXPAND_SZ value as stored (not expanded), cut at its
    // first NUL, or the default.
    std::wstring ReadString(const std::wstring& name, const std::wstring& defaultValue);
    // Appends the names of the subkeys; their number, or -1 when the key
    // cannot be opened.
    int EnumSubkeys(std::vector<std::wstring>* names);
    bool WriteDword(const std::wstring& name, uint32_t value);
    bool WriteString(const std::wstring& name, const std::wstring& value);
    // Releases a remote root and returns to HKEY_CURRENT_USER.
    void Close();

private:
    uint32_t Access(uint32_t rights) const;
    bool OpenSubkey(uint32_t rights, kx::platform::RegistryKeyHandle* key);

    int32_t lastStatus_;
    kx::platform::RegistryKeyHandle root_;
    int32_t lazyWrite_;  // writes are never flushed
    std::wstring subkey_;
    int32_t wow64View_;
    int32_t remote_;
};
