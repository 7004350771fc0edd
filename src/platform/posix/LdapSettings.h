#pragma once
// How the Linux agent reaches the directory of a server name, kept in the
// machine registry under the key
// HKEY_LOCAL_MACHINE\SOFTWARE\Brenwick Corporation\Korvex\Directory:
//   ConnectTimeout, OperationTimeout   REG_DWORD seconds (defaults 3 and 10;
//                                      0: wait as long as the network does)
//   Servers\<server name>              one key per server name:
//     Uri              "ldap://host[:port]" (default "ldap://<server name>")
//     Authentication   "GSSAPI" (default: the machine's Kerberos keytab) or
//                      "Simple" (User and PasswordFile)
//     Keytab           the keytab for GSSAPI (default /etc/krb5.keytab)
//     User             the bind name of a simple bind
//     PasswordFile     a file that only its owner, the agent's user, can
//                      read; its first line is the password
//   Domains\<DNS domain>
//     PrimaryDomainController   used when DNS has no PDC record

#include <cstdint>
#include <string>

namespace kx::platform {

struct LdapServerSettings {
    std::string uri;
    bool simpleBind = false;
    std::string keytab;
    std::string user;
    std::string passwordFile;
    uint32_t connectTimeoutSeconds = 3;
    uint32_t operationTimeoutSeconds = 10;
};

LdapServerSettings ReadLdapServerSettings(const std::wstring& server);
std::wstring ReadConfiguredPrimaryDomainController(const std::wstring& domain);
// Whether the registry has a Servers key of that server name.
bool HasLdapServerEntry(const std::wstring& server);

// The password of a simple bind: 0, or 5 when the file can be read by
// others than its owner or is not owned by this process's user, 2 when it
// cannot be read.
uint32_t ReadPasswordFile(const std::string& path, std::string& password);

}  // namespace kx::platform
