#include "platform/posix/DomainAccounts.h"

#include <ldap.h>

#include <memory>
#include <optional>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/posix/LdapConnection.h"
#include "platform/posix/LdapSettings.h"

namespace kx::platform {
namespace {

// sAMAccountType: 0x1000000x groups, 0x2000000x aliases (domain local
// groups), 0x3000000x users, computers and trust accounts.
constexpr int32_t kTypeClassShift = 28;
constexpr int32_t kGroupTypes = 1;
constexpr int32_t kAliasTypes = 2;

struct Domain {
    std::string dn;
    std::wstring netbiosName;
    std::wstring dnsName;
};

std::optional<std::string> FilterValue(std::wstring_view text) {
    std::string value = WideToUtf8(text);
    berval in{value.size(), value.data()};
    berval out{0, nullptr};
    if (ldap_bv2escaped_filter_value(&in, &out) != 0) return std::nullopt;
    std::string escaped(out.bv_val, out.bv_len);
    ber_memfree(out.bv_val);
    return escaped;
}

std::shared_ptr<LdapConnection> DomainConnection() {
    const std::wstring computer = GetLocalComputerName();
    if (computer.empty() || !HasLdapServerEntry(computer)) return nullptr;
    uint32_t code = 0;
    return LdapConnection::Get(computer, code);
}

// The first entry of a search, or null.
LDAPMessage* FirstEntry(LdapConnection& connection, const std::string& base, int scope,
                        const std::string& filter, const std::vector<std::string>& attributes,
                        LdapConnection::Result& result) {
    if (connection.Search(base, scope, filter, attributes, false, result) != 0) return nullptr;
    return ldap_first_entry(connection.Handle(), result.message);
}

// The NetBIOS name of a domain when its cross-reference gives none: the
// first label of its distinguished name.
std::wstring FirstLabel(const std::string& dn) {
    const std::wstring text = Utf8ToWide(dn);
    const std::size_t start = text.find(L'=');
    if (start == std::wstring::npos) return L"";
    return ToUpper(text.substr(start + 1, text.find(L',') - start - 1));
}

// The directory's own domain: its naming context and, from its cross-reference
// below CN=Partitions, its NetBIOS and DNS names.
std::optional<Domain> ReadDomain(LdapConnection& connection) {
    LdapConnection::Result root;
    LDAPMessage* entry = FirstEntry(connection, "", LDAP_SCOPE_BASE, "(objectClass=*)",
                                    {"defaultNamingContext", "configurationNamingContext"}, root);
    if (!entry) return std::nullopt;
    LDAP* ld = connection.Handle();
    Domain domain;
    domain.dn = WideToUtf8(LdapConnection::FirstValue(ld, entry, "defaultNamingContext"));
    const std::string configuration =
        WideToUtf8(LdapConnection::FirstValue(ld, entry, "configurationNamingContext"));
    const std::optional<std::string> dn = FilterValue(Utf8ToWide(domain.dn));
    if (domain.dn.empty() || !dn) return std::nullopt;
    LdapConnection::Result reference;
    if (LDAPMessage* crossRef =
            FirstEntry(connection, "CN=Partitions," + configuration, LDAP_SCOPE_ONELEVEL,
                       "(&(objectClass=crossRef)(nCName=" + *dn + "))", {"nETBIOSName", "dnsRoot"},
                       reference)) {
        domain.netbiosName = LdapConnection::FirstValue(ld, crossRef, "nETBIOSName");
        domain.dnsName = LdapConnection::FirstValue(ld, crossRef, "dnsRoot");
    }
    if (domain.netbiosName.empty()) domain.netbiosName = FirstLabel(domain.dn);
    return domain;
}

SidUse UseOf(const std::wstring& samAccountType) {
    switch (ParseDecimal(samAccountType) >> kTypeClassShift) {
        case kGroupTypes:
            return SidUse::Group;
        case kAliasTypes:
            return SidUse::Alias;
        default:
            return SidUse::User;
    }
}

bool ReadSid(LDAP* ld, LDAPMessage* entry, SidBytes& sid) {
    berval** values = ldap_get_values_len(ld, entry, "objectSid");
    bool read = false;
    if (values && values[0]) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(values[0]->bv_val);
        std::wstring text;
        if (ConvertSidToString(bytes, values[0]->bv_len, text) == 0) {
            sid.assign(bytes, bytes + values[0]->bv_len);
            read = true;
        }
    }
    ldap_value_free_len(values);
    return read;
}

}  // namespace

bool LookupDomainAccountBySid(const std::wstring& sidText, AccountName& account) {
    std::shared_ptr<LdapConnection> connection = DomainConnection();
    if (!connection) return false;
    const std::optional<Domain> domain = ReadDomain(*connection);
    if (!domain) return false;
    // The SID text holds only "S", digits and dashes. Foreign security
    // principals carry a SID but no account name: they are another domain's.
    LdapConnection::Result found;
    LDAPMessage* entry = FirstEntry(*connection, domain->dn, LDAP_SCOPE_SUBTREE,
                                    "(&(objectSid=" + WideToUtf8(sidText) + ")(sAMAccountName=*))",
                                    {"sAMAccountName", "sAMAccountType"}, found);
    if (!entry) return false;
    LDAP* ld = connection->Handle();
    account = {domain->netbiosName, LdapConnection::FirstValue(ld, entry, "sAMAccountName"),
               UseOf(LdapConnection::FirstValue(ld, entry, "sAMAccountType"))};
    return !account.name.empty();
}

bool LookupDomainAccountByName(std::wstring_view domainName, std::wstring_view name, SidBytes& sid,
                               AccountName& account) {
    const std::optional<std::string> value = FilterValue(name);
    if (!value) return false;
    std::shared_ptr<LdapConnection> connection = DomainConnection();
    if (!connection) return false;
    const std::optional<Domain> domain = ReadDomain(*connection);
    if (!domain) return false;
    if (!domainName.empty() && !EqualsNoCase(domainName, domain->netbiosName) &&
        !EqualsNoCase(domainName, domain->dnsName))
        return false;
    LdapConnection::Result found;
    LDAPMessage* entry = FirstEntry(*connection, domain->dn, LDAP_SCOPE_SUBTREE,
                                    "(&(sAMAccountName=" + *value + ")(objectSid=*))",
                                    {"objectSid", "sAMAccountType"}, found);
    LDAP* ld = connection->Handle();
    if (!entry || !ReadSid(ld, entry, sid)) return false;
    account = {domain->netbiosName, std::wstring(name),
               UseOf(LdapConnection::FirstValue(ld, entry, "sAMAccountType"))};
    return true;
}

}  // namespace kx::platform
