#include "platform/posix/LdapConnection.h"

#include <sasl/sasl.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "common/Text.h"
#include "platform/Directory.h"
#include "platform/posix/LdapSettings.h"

namespace kx::platform {
namespace {

std::mutex poolLock;
std::map<std::wstring, std::shared_ptr<LdapConnection>>& Kept() {
    static std::map<std::wstring, std::shared_ptr<LdapConnection>> kept;
    return kept;
}

// GSSAPI needs no answers from the caller: the keytab holds everything.
int NoInteraction(LDAP*, unsigned, void*, void* prompts) {
    for (auto* prompt = static_cast<sasl_interact_t*>(prompts); prompt->id != SASL_CB_LIST_END;
         ++prompt) {
        prompt->result = prompt->defresult ? prompt->defresult : "";
        prompt->len = static_cast<unsigned>(
            std::char_traits<char>::length(static_cast<const char*>(prompt->result)));
    }
    return LDAP_SUCCESS;
}

int SimpleBind(LDAP* ld, const LdapServerSettings& settings, timeval* timeout, uint32_t& code) {
    std::string password;
    if (uint32_t error = ReadPasswordFile(settings.passwordFile, password)) {
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

int GssapiBind(LDAP* ld, const LdapServerSettings& settings) {
    // The machine's keytab is the client's key, as on a joined Linux machine.
    if (!std::getenv("KRB5_CLIENT_KTNAME"))
        setenv("KRB5_CLIENT_KTNAME", settings.keytab.c_str(), 0);
    return ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET,
                                        NoInteraction, nullptr);
}

LDAP* Connect(const LdapServerSettings& settings, timeval* operationTimeout, uint32_t& code) {
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, settings.uri.c_str()) != LDAP_SUCCESS) {
        code = kDirectoryBadPathname;
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
    const int result = settings.simpleBind ? SimpleBind(ld, settings, operationTimeout, code)
                                           : GssapiBind(ld, settings);
    if (result != LDAP_SUCCESS) {
        if (code == 0) code = LdapResultToHresult(result);
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        return nullptr;
    }
    return ld;
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
    LDAP* ld =
        Connect(settings, settings.operationTimeoutSeconds ? &operationTimeout : nullptr, code);
    if (!ld) return nullptr;
    std::shared_ptr<LdapConnection> connection(new LdapConnection(key, ld, operationTimeout));
    Kept()[key] = connection;
    return connection;
}

void LdapConnection::ForgetAll() {
    std::lock_guard<std::mutex> guard(poolLock);
    Kept().clear();
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
