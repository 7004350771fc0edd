#include "platform/posix/LdapSettings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>

#include "common/Text.h"
#include "platform/Registry.h"

namespace kx::platform {
namespace {

constexpr wchar_t kDirectoryKey[] = L"SOFTWARE\\Brenwick Corporation\\Korvex\\Directory";
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kFileNotFound = 2;

class OpenedKey {
public:
    explicit OpenedKey(const std::wstring& subkey) {
        if (RegistryOpenKey(kHkeyLocalMachine, subkey, kKeyQueryValue, &key_) != 0) key_ = 0;
    }
    ~OpenedKey() {
        if (key_) RegistryCloseKey(key_);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    std::optional<std::wstring> String(const std::wstring& name) const {
        uint32_t type = 0;
        uint32_t size = 0;
        if (!key_ || RegistryQueryValue(key_, name, &type, nullptr, &size) != 0 ||
            (type != kRegSz && type != kRegExpandSz))
            return std::nullopt;
        std::string data(size, '\0');
        if (RegistryQueryValue(key_, name, &type, data.data(), &size) != 0) return std::nullopt;
        std::wstring text = Utf16LEToWide(data.data(), size);
        return text.substr(0, text.find(L'\0'));
    }
    std::optional<uint32_t> Dword(const std::wstring& name) const {
        uint32_t type = 0;
        uint32_t value = 0;
        uint32_t size = sizeof value;
        if (!key_ || RegistryQueryValue(key_, name, &type, &value, &size) != 0 || type != kRegDword)
            return std::nullopt;
        return value;
    }

private:
    RegistryKeyHandle key_ = 0;
};

std::string Utf8Or(const std::optional<std::wstring>& value, const std::string& fallback) {
    return value && !value->empty() ? WideToUtf8(*value) : fallback;
}

}  // namespace

LdapServerSettings ReadLdapServerSettings(const std::wstring& server) {
    LdapServerSettings settings;
    const OpenedKey directory(kDirectoryKey);
    settings.connectTimeoutSeconds =
        directory.Dword(L"ConnectTimeout").value_or(settings.connectTimeoutSeconds);
    settings.operationTimeoutSeconds =
        directory.Dword(L"OperationTimeout").value_or(settings.operationTimeoutSeconds);
    const OpenedKey key(std::wstring(kDirectoryKey) + L"\\Servers\\" + server);
    settings.uri = Utf8Or(key.String(L"Uri"), "ldap://" + WideToUtf8(server));
    settings.simpleBind = EqualsNoCase(key.String(L"Authentication").value_or(L""), L"Simple");
    settings.keytab = Utf8Or(key.String(L"Keytab"), "/etc/krb5.keytab");
    settings.user = Utf8Or(key.String(L"User"), "");
    settings.passwordFile = Utf8Or(key.String(L"PasswordFile"), "");
    return settings;
}

std::wstring ReadConfiguredPrimaryDomainController(const std::wstring& domain) {
    const OpenedKey key(std::wstring(kDirectoryKey) + L"\\Domains\\" + domain);
    return key.String(L"PrimaryDomainController").value_or(L"");
}

bool HasLdapServerEntry(const std::wstring& server) {
    RegistryKeyHandle key = 0;
    if (RegistryOpenKey(kHkeyLocalMachine, std::wstring(kDirectoryKey) + L"\\Servers\\" + server,
                        kKeyQueryValue, &key) != 0)
        return false;
    RegistryCloseKey(key);
    return true;
}

uint32_t ReadPasswordFile(const std::string& path, std::string& password) {
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0) return kFileNotFound;
    if (status.st_uid != geteuid() || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return kAccessDenied;
    std::ifstream file(path);
    if (!std::getline(file, password)) password.clear();
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return file || file.eof() ? 0 : kFileNotFound;
}

}  // namespace kx::platform
