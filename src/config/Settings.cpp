#include "config/Settings.h"

#include "common/Format.h"
#include "config/FoundationServiceRequest.h"
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

uint32_t GetKFSUseHttps() {
    return ReadDword(kPolicySettingsKey, L"KFSUseHttps", 0);
}

std::wstring GetKFSCACertificates() {
    return ReadString(kPolicySettingsKey, L"KFSCACertificates", L"");
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

namespace {

constexpr std::wstring_view kSuccessMarker = L"<Success>true</Success>";
constexpr std::wstring_view kValueMarker = L"<ConfigValue>";

// A marker counts only after the start of the answer: the service's answers
// always begin with markup of their own.
bool FoundAfterStart(std::size_t position) {
    return position != std::wstring::npos && position > 0;
}

}  // namespace

std::wstring GetConfigValue(const std::wstring& name) {
    CFoundationServiceRequest request(L"/GetConfigValue?Name=" + name);
    if (!request.Send(L"GET", false)) return std::wstring();
    std::wstring text = request.Http().GetResponseText();
    if (!FoundAfterStart(text.find(kSuccessMarker))) return std::wstring();
    std::size_t start = text.find(kValueMarker);
    if (!FoundAfterStart(start)) return std::wstring();
    std::wstring rest = text.substr(start + kValueMarker.size());
    std::size_t end = rest.find(L'<');
    return end == std::wstring::npos ? std::wstring() : rest.substr(0, end);
}

std::wstring GetLastEventLogRecordIdentity() {
    return ReadString(kProductSettingsKey, L"WSLastEventLogRecordIdentity", L"");
}

void SetLastEventLogRecordIdentity(const std::wstring& identity) {
    WithSettingsKey(kProductSettingsKey, [&](CRegistryKey& key, bool opened) {
        return opened && key.WriteString(L"WSLastEventLogRecordIdentity", identity);
    });
}
