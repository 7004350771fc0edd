#include "config/Settings.h"

#include "config/RegistryKey.h"

namespace {

// Each call has a key object of its own: the callers run on several threads.
// The key is created when missing, so a fresh machine gets both keys.
template <typename Action>
auto WithSettingsKey(const wchar_t* subkey, Action action) {
    CRegistryKey key;
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    bool opened = key.Open(subkey, true);
    return action(key, opened);
}

std::wstring ReadString(const wchar_t* subkey, const wchar_t* name, const wchar_t* defaultValue) {
    return WithSettingsKey(subkey, [&](CRegistryKey& key, bool opened) {
        return opened ? key.ReadString(name, defaultValue) : std::wstring(defaultValue);
    });
}

uint32_t ReadDword(const wchar_t* subkey, const wchar_t* name, uint32_t defaultValue) {
    return WithSettingsKey(subkey, [&](CRegistryKey& key, bool opened) {
        return opened ? key.ReadDword(name, defaultValue) : defaultValue;
    });
}

}  // namespace

std::wstring GetKFSServer() {
    return ReadString(kPolicySettingsKey, L"KFSServer", L"localhost");
}

std::wstring GetKFSPort() {
    return ReadString(kPolicySettingsKey, L"KFSPort", L"15601");
}

uint32_t GetEnableWorkstationAuditAgent() {
    return ReadDword(kPolicySettingsKey, L"EnableWorkstationAuditAgent", 0);
}

uint32_t GetLoggingLevel() {
    return ReadDword(kProductSettingsKey, L"LoggingLevel", 3);
}

uint32_t GetLastEventLogRecordNumber() {
    return ReadDword(kProductSettingsKey, L"WSLastEventLogRecordNumber", 0);
}

void SetLastEventLogRecordNumber(uint32_t recordNumber) {
    WithSettingsKey(kProductSettingsKey, [&](CRegistryKey& key, bool opened) {
        return opened && key.WriteDword(L"WSLastEventLogRecordNumber", recordNumber);
    });
}

std::wstring GetEDVersion() {
    return ReadString(kProductSettingsKey, L"EDVersion", L"");
}

void SetEDVersion(const std::wstring& version) {
    WithSettingsKey(kProductSettingsKey, [&](CRegistryKey& key, bool opened) {
        return opened && key.WriteString(L"EDVersion", version);
    });
}
