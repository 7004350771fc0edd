#include "platform/posix/LdapConnection.h"

#include <map>
#include <mutex>

#include "common/Text.h"
#include "platform/Directory.h"
#include "platform/posix/LdapGssapiBind.h"
#include "platform/posix/LdapSettings.h"

namespace kx::platform {
namespace {

std::mutex poolLock;
std::map<std::wstring, std::shared_ptr<LdapConnection>>& Kept() {
    static std::map<std::wstring, std::shared_ptr<LdapConnection>> kept;
    return kept;
}

// The last failed connection of each server name, until one succeeds.
struct Failure {
    uint32_t code;
    std::wstring description;
};
std::map<std::wstring, Failure>& Failures() {
    static std::map<std::wstring, Failure> failures;
    return failures;
}

bool IsDown(uint32_t code) {
    return code == kDirectoryServerDown || code == kDirectoryTimeout;
}

// libldap's text for a result and what the server or the TLS layer added.
std::string LdapReason(LDAP* ld, int result) {
    std::string reason = ldap_err2string(result);
    char* diagnostic = nullptr;
    if (ld && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
        diagnostic) {
        if (*diagnostic) reason += std::string(": ") + diagnostic;
        ldap_memfree(diagnostic);
    }
    return reason + " (" + std::to_string(result) + ")";
}

// libldap says no more than "Connect error" when the TLS handshake or the
// certificate check fails.
std::string TlsHint(const LdapServerSettings& settings, int result) {
    if (!settings.UsesTls() || (result != LDAP_CONNECT_ERROR && result != LDAP_SERVER_DOWN))
        return "";
    LDAPURLDesc* url = nullptr;
    std::string host;
    if (ldap_url_parse(settings.uri.c_str(), &url) == LDAP_URL_SUCCESS && url->lud_host)
        host = url->lud_host;
    ldap_free_urldesc(url);
    return "; with TLS this is also what a server certificate says that no trusted authority "
           "signed or that does not name " +
           host;
}

int SimpleBind(LDAP* ld, const LdapServerSettings& settings, timeval* timeout, uint32_t& code,
               std::string& why) {
    std::string password;
    if (uint32_t error = ReadPasswordFile(settings.passwordFile, password, why)) {
        code = 0x80070000u | error;
        return LDAP_INAPPROPRIATE_AUTH;
    }
    berval credentials{password.size(), password.data()};
    int id = 0;
    int result = ldap_sasl_bind(ld, settings.user.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                                nullptr, &id);
    if (result != LDAP_SUCCESS) return result;
    LDAPMessage* answer = nullptr;
    const int got = ldap_result(ld, id, LDAP_MSG_ALL, timeout, &answer);
    if (got <= 0) {
        if (got == 0) ldap_abandon_ext(ld, id, nullptr, nullptr);
        return got == 0 ? LDAP_TIMEOUT : LDAP_SERVER_DOWN;
    }
    int error = LDAP_OTHER;
    ldap_parse_result(ld, answer, &error, nullptr, nullptr, nullptr, nullptr, 1);
    return error;
}

// TLS with the server's certificate and name checked, always; StartTLS
// turns an ldap:// connection to TLS now, ldaps:// at the bind.
int SetUpTls(LDAP* ld, const LdapServerSettings& settings, std::string& why) {
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    const int client = 0;
    if (ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) != LDAP_OPT_SUCCESS ||
        (!settings.caCertificates.empty() &&
         ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, settings.caCertificates.c_str()) !=
             LDAP_OPT_SUCCESS) ||
        ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &client) != LDAP_OPT_SUCCESS) {
        why =
            "TLS cannot be set up with the certificate authorities of " +
            (settings.caCertificates.empty() ? std::string("the system") : settings.caCertificates);
        return LDAP_LOCAL_ERROR;
    }
    if (!settings.startTls || settings.uri.rfind("ldaps://", 0) == 0) return LDAP_SUCCESS;
    return ldap_start_tls_s(ld, nullptr, nullptr);
}

LDAP* Connect(const LdapServerSettings& settings, timeval* operationTimeout, uint32_t& code,
              std::string& why) {
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, settings.uri.c_str()) != LDAP_SUCCESS) {
        code = kDirectoryBadPathname;
        why = "not an LDAP URI";
        return nullptr;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    if (settings.connectTimeoutSeconds) {
        timeval connect{static_cast<time_t>(settings.connectTimeoutSeconds), 0};
        ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connect);
    }
    if (operationTimeout) ldap_set_option(ld, LDAP_OPT_TIMEOUT, operationTimeout);
    code = 0;
    int result = settings.UsesTls() ? SetUpTls(ld, settings, why) : LDAP_SUCCESS;
    if (result == LDAP_SUCCESS) {
        result = settings.simpleBind ? SimpleBind(ld, settings, operationTimeout, code, why)
                                     : GssapiBind(ld, settings.keytab, why);
    }
    if (result != LDAP_SUCCESS) {
        if (code == 0) code = LdapResultToHresult(result);
        if (why.empty()) why = LdapReason(ld, result) + TlsHint(settings, result);
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        return nullptr;
    }
    return ld;
}

// "ldap://dc1 (simple bind as x, StartTLS): reason", and which key was missing.
std::wstring Describe(const LdapServerSettings& settings, const std::string& reason) {
    std::string method = settings.simpleBind ? "simple bind as " + settings.user
                                             : "GSSAPI bind with the keytab " + settings.keytab;
    if (settings.startTls && settings.uri.rfind("ldaps://", 0) != 0) method += ", StartTLS";
    if (settings.UsesTls() && !settings.caCertificates.empty())
        method += ", certificate authorities of " + settings.caCertificates;
    std::wstring text = Utf8ToWide(settings.uri + " (" + method + "): " + reason);
    if (!settings.configured)
        text += L"; there is no registry key " + settings.key + L", so its defaults were used";
    return text;
}

}  // namespace

uint32_t LdapResultToHresult(int result) {
    switch (result) {
        case LDAP_SUCCESS:
            return 0;
        case LDAP_SERVER_DOWN:
        case LDAP_CONNECT_ERROR:
            return kDirectoryServerDown;
        case LDAP_TIMEOUT:
        case LDAP_TIMELIMIT_EXCEEDED:
            return kDirectoryTimeout;
        case LDAP_NO_SUCH_OBJECT:
            return kDirectoryNoSuchObject;
        case LDAP_INVALID_CREDENTIALS:
            return kDirectoryInvalidCredentials;
        case LDAP_FILTER_ERROR:
        case LDAP_PARAM_ERROR:
            return kDirectoryInvalidArgument;
        case LDAP_NO_MEMORY:
            return 0x8007000E;
        default:
            return kDirectoryOperationsError;
    }
}

LDAPControl* ShowDeletedControl() {
    static char oid[] = "1.2.840.113556.1.4.417";
    static LDAPControl control{oid, {0, nullptr}, 1};
    return &control;
}

std::shared_ptr<LdapConnection> LdapConnection::Get(const std::wstring& server, uint32_t& code) {
    const std::wstring key = ToLower(server);
    std::lock_guard<std::mutex> guard(poolLock);
    if (auto found = Kept().find(key); found != Kept().end()) {
        code = 0;
        return found->second;
    }
    const LdapServerSettings settings = ReadLdapServerSettings(server);
    timeval operationTimeout{static_cast<time_t>(settings.operationTimeoutSeconds), 0};
    std::string why;
    LDAP* ld = Connect(settings, settings.operationTimeoutSeconds ? &operationTimeout : nullptr,
                       code, why);
    if (!ld) {
        Failures()[key] = {code, Describe(settings, why)};
        return nullptr;
    }
    Failures().erase(key);
    std::shared_ptr<LdapConnection> connection(new LdapConnection(key, ld, operationTimeout));
    Kept()[key] = connection;
    return connection;
}

std::wstring LdapConnection::DescribeFailure(const std::wstring& server, uint32_t code) {
    const std::wstring key = ToLower(server);
    {
        std::lock_guard<std::mutex> guard(poolLock);
        auto found = Failures().find(key);
        // The DS bind answers a server that is down as DsBindW does.
        if (found != Failures().end() &&
            (found->second.code == code ||
             (code == kErrorDsServerDown && IsDown(found->second.code))))
            return found->second.description;
    }
    if (!IsDown(code) && code != kErrorDsServerDown) return L"";
    return Describe(ReadLdapServerSettings(server), "the server stopped answering");
}

void LdapConnection::ForgetAll() {
    std::lock_guard<std::mutex> guard(poolLock);
    Kept().clear();
    Failures().clear();
}

LdapConnection::LdapConnection(const std::wstring& server, LDAP* ld, timeval operationTimeout)
    : server_(server), ld_(ld), operationTimeout_(operationTimeout) {}

LdapConnection::~LdapConnection() {
    ldap_unbind_ext_s(ld_, nullptr, nullptr);
}

uint32_t LdapConnection::Check(int result) {
    const uint32_t code = LdapResultToHresult(result);
    if (code == kDirectoryServerDown || code == kDirectoryTimeout) {
        std::lock_guard<std::mutex> guard(poolLock);
        auto found = Kept().find(server_);
        if (found != Kept().end() && found->second.get() == this) Kept().erase(found);
    }
    return code;
}

uint32_t LdapConnection::Search(const std::string& base, int scope, const std::string& filter,
                                const std::vector<std::string>& attributes, bool showDeleted,
                                Result& result) {
    std::vector<char*> names;
    for (const std::string& attribute : attributes)
        names.push_back(const_cast<char*>(attribute.c_str()));
    names.push_back(nullptr);
    LDAPControl* controls[] = {showDeleted ? ShowDeletedControl() : nullptr, nullptr};
    const int code = ldap_search_ext_s(ld_, base.c_str(), scope, filter.c_str(), names.data(), 0,
                                       controls, nullptr, OperationTimeout(), 0, &result.message);
    return Check(code);
}

std::wstring LdapConnection::FirstValue(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    berval** values = ldap_get_values_len(ld, entry, attribute);
    if (!values) return L"";
    std::wstring text;
    if (values[0]) text = Utf8ToWide(std::string_view(values[0]->bv_val, values[0]->bv_len));
    ldap_value_free_len(values);
    return text;
}

}  // namespace kx::platform
