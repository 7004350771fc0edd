#pragma once
// How the Linux agent reaches the directory of a server name, kept in the
// machine registry under the key
// HKEY_LOCAL_MACHINE\SOFTWARE\Brenwick Corporation\Korvex\Directory:
//   ConnectTimeout, OperationTimeout   REG_DWORD seconds (defaults 3 and 10;
//                                      0: wait as long as the network does)
//   Servers\<server name>              one key per server name:
//     Uri              "ldap://host[:port]" or "ldaps://host[:port]"
//                      (default "ldap://<server name>")
//     StartTLS         REG_DWORD 1: an ldap:// connection turns to TLS
//                      before it binds (default 0)
//     CACertificates   a PEM file of the certificate authorities that may
//                      sign the server's certificate (default: the system's)
//     Authentication   "GSSAPI" (default: the machine's Kerberos keytab) or
//                      "Simple" (User and PasswordFile)
//     Keytab           the keytab for GSSAPI (default /etc/krb5.keytab)
//     User             the bind name of a simple bind
//     PasswordFile     a file that only its owner, the agent's user, can
//                      read; its first line is the password
//   Domains\<DNS domain>
//     PrimaryDomainController   used when DNS has no PDC record
// A TLS connection always checks the server's certificate and name.

#include <cstdint>
#include <string>

namespace kx::platform {

struct LdapServerSettings {
    std::string uri;
    bool startTls = false;
    std::string caCertificates;
    bool simpleBind = false;
    std::string keytab;
    std::string user;
    std::string passwordFile;
    uint32_t connectTimeoutSeconds = 3;
    uint32_t operationTimeoutSeconds = 10;
    // The registry key of the server name, and whether it exists.
    std::wstring key;
    bool configured = false;

    bool UsesTls() const { return startTls || uri.rfind("ldaps://", 0) == 0; }
};

LdapServerSettings ReadLdapServerSettings(const std::wstring& server);
std::wstring ReadConfiguredPrimaryDomainController(const std::wstring& domain);
// Whether the registry has a Servers key of that server name.
bool HasLdapServerEntry(const std::wstring& server);

// The password of a simple bind, the first line of the file: 0, or 5 when
// the file is a symbolic link, not a regular file, not owned by this
// process's user or open to others than its owner, 2 when it cannot be
// read; why says which. The checks are made on the opened file itself.
uint32_t ReadPasswordFile(const std::string& path, std::string& password, std::string& why);

}  // namespace kx::platform
