#pragma once
// One bound LDAP connection to the directory of a server name, shared by the
// searches, object reads and name calls of that server. Connections are kept
// per server name and made again after the server stopped answering.
// Protocol version 3, referrals off, connect and operation time-outs, TLS
// and the bind from the settings (posix/LdapSettings.h).

#include <ldap.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kx::platform {

class LdapConnection {
public:
    // The kept connection of a server, or a new bound one; null with an
    // HRESULT when connecting or binding fails.
    static std::shared_ptr<LdapConnection> Get(const std::wstring& server, uint32_t& code);
    // Why the last connection of a server failed with code (or, for a server
    // that is down, that it stopped answering): the URI, the bind method and
    // the reason; empty when code came from something else.
    static std::wstring DescribeFailure(const std::wstring& server, uint32_t code);
    // Forgets every kept connection and failure (tests that change the settings).
    static void ForgetAll();

    ~LdapConnection();
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

    LDAP* Handle() const { return ld_; }
    // The time-out of one operation, or null when there is none.
    timeval* OperationTimeout() {
        return operationTimeout_.tv_sec > 0 ? &operationTimeout_ : nullptr;
    }
    // The HRESULT of an LDAP result code; a code that says the server is
    // gone makes the next Get connect again.
    uint32_t Check(int result);

    // A synchronous search whose entries the caller walks; null on failure.
    struct Result {
        LDAPMessage* message = nullptr;
        ~Result() { ldap_msgfree(message); }
    };
    uint32_t Search(const std::string& base, int scope, const std::string& filter,
                    const std::vector<std::string>& attributes, bool showDeleted, Result& result);
    // The first value of an attribute of an entry as text, or empty.
    static std::wstring FirstValue(LDAP* ld, LDAPMessage* entry, const char* attribute);

private:
    LdapConnection(const std::wstring& server, LDAP* ld, timeval operationTimeout);

    std::wstring server_;
    LDAP* ld_;
    timeval operationTimeout_;
};

// The HRESULT that ADSI gives for an LDAP result code.
uint32_t LdapResultToHresult(int result);
// The show-deleted control (1.2.840.113556.1.4.417), critical.
LDAPControl* ShowDeletedControl();

}  // namespace kx::platform
