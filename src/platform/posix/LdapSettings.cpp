#include "platform/posix/LdapSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "common/Text.h"
#include "platform/Registry.h"

namespace kx::platform {
namespace {

constexpr wchar_t kDirectoryKey[] = L"SOFTWARE\\Brenwick Corporation\\Korvex\\Directory";
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kFileNotFound = 2;
constexpr std::size_t kMaxPasswordFileBytes = 65536;

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

    bool Exists() const { return key_ != 0; }

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

std::string ErrnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

// The first line of an opened password file, once the file passed the checks.
uint32_t ReadCheckedPassword(int fd, const std::string& path, std::string& password,
                             std::string& why) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "the password file " + path + " is not a regular file";
        return kAccessDenied;
    }
    if (status.st_uid != geteuid()) {
        why = "the password file " + path + " does not belong to the agent's user";
        return kAccessDenied;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        why = "the password file " + path + " is open to others than its owner";
        return kAccessDenied;
    }
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (text.find('\n') == std::string::npos && text.size() < kMaxPasswordFileBytes &&
           (got = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    if (got < 0) {
        why = "the password file " + path + " cannot be read: " + ErrnoText(errno);
        return kFileNotFound;
    }
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return 0;
}

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
    settings.key = std::wstring(L"HKEY_LOCAL_MACHINE\\") + kDirectoryKey + L"\\Servers\\" + server;
    const OpenedKey key(std::wstring(kDirectoryKey) + L"\\Servers\\" + server);
    settings.configured = key.Exists();
    settings.uri = Utf8Or(key.String(L"Uri"), "ldap://" + WideToUtf8(server));
    settings.startTls = key.Dword(L"StartTLS").value_or(0) != 0;
    settings.caCertificates = Utf8Or(key.String(L"CACertificates"), "");
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

uint32_t ReadPasswordFile(const std::string& path, std::string& password, std::string& why) {
    password.clear();
    if (path.empty()) {
        why = "no PasswordFile is set";
        return kFileNotFound;
    }
    // Checked on the descriptor, not the name: what is read is what was checked.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const bool link = errno == ELOOP;
        why = "the password file " + path +
              (link ? " is a symbolic link" : " cannot be opened: " + ErrnoText(errno));
        return link ? kAccessDenied : kFileNotFound;
    }
    const uint32_t code = ReadCheckedPassword(fd, path, password, why);
    close(fd);
    return code;
}

}  // namespace kx::platform
