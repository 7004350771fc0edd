#include "platform/Directory.h"

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>

#include "common/Format.h"
#include "common/Guid.h"
#include "common/LdapPath.h"
#include "common/Text.h"
#include "platform/posix/LdapConnection.h"
#include "platform/posix/LdapSearch.h"
#include "platform/posix/LdapSettings.h"

namespace kx::platform {
namespace {

struct Target {
    std::wstring server;
    std::string base;
};

// The server and search base of an LDAP path; the agent's paths name their server.
uint32_t ParseTarget(const std::wstring& path, Target& target) {
    CLdapPath parsed;
    if (uint32_t code = parsed.Set(path, PathSetType::Full)) return code;
    if (parsed.Server().empty()) return kDirectoryBadPathname;
    target.server = parsed.Server();
    const std::wstring dn = parsed.Dn();
    target.base = dn == L"RootDSE" ? "" : WideToUtf8(dn);
    return 0;
}

// One object read whole at the bind, as ADsGetObject's property cache holds it.
class LdapObject : public IDirectoryObject {
public:
    LdapObject(std::shared_ptr<LdapConnection> connection, LDAPMessage* result)
        : connection_(std::move(connection)), result_(result) {}
    ~LdapObject() override { ldap_msgfree(result_); }
    LdapObject(const LdapObject&) = delete;
    LdapObject& operator=(const LdapObject&) = delete;

    uint32_t Get(const std::wstring& name, std::wstring& value) override {
        LDAP* ld = connection_->Handle();
        LDAPMessage* entry = ldap_first_entry(ld, result_);
        berval** values =
            entry ? ldap_get_values_len(ld, entry, WideToUtf8(name).c_str()) : nullptr;
        if (!values || !values[0]) {
            ldap_value_free_len(values);
            return kDirectoryPropertyNotFound;
        }
        value = Utf8ToWide(std::string_view(values[0]->bv_val, values[0]->bv_len));
        ldap_value_free_len(values);
        return 0;
    }

private:
    std::shared_ptr<LdapConnection> connection_;
    LDAPMessage* result_;
};

// "S-1-5-21-..." and nothing that could end the "<SID=...>" base early.
bool IsSidText(const std::wstring& name) {
    if (!StartsWithNoCase(name, L"S-") || name.size() < 3) return false;
    for (wchar_t c : name.substr(2)) {
        if (!(c == L'-' || (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
              (c >= L'A' && c <= L'F') || c == L'x' || c == L'X'))
            return false;
    }
    return true;
}

std::string HexEscaped(const GuidBytes& guid) {
    std::string text;
    for (uint8_t byte : guid) text += WideToUtf8(Format(L"\\%02x", byte));
    return text;
}

// The name calls as LDAP searches on the server's kept connection, which is
// made again when the server stopped answering (a DS handle outlives that).
class LdapNames : public IDirectoryNames {
public:
    LdapNames(std::wstring server, std::string configuration, std::string schema)
        : server_(std::move(server)),
          configuration_(std::move(configuration)),
          schema_(std::move(schema)) {}

    uint32_t CrackName(NameFormat offered, NameFormat desired, const std::wstring& name,
                       uint32_t& status, std::wstring& result) override {
        status = kNameNotFound;
        if (desired != NameFormat::Fqdn1779) return 0;
        std::string base;
        if (offered == NameFormat::UniqueId) {
            Guid guid;
            if (!ParseGuid(name, guid)) return 0;
            base = "<GUID=" + WideToUtf8(ToLower(name.substr(1, name.size() - 2))) + ">";
        } else if (offered == NameFormat::SidOrSidHistory) {
            if (!IsSidText(name)) return 0;
            base = "<SID=" + WideToUtf8(name) + ">";
        } else {
            return 0;
        }
        if (uint32_t code = Connect()) return code;
        LdapConnection::Result found;
        const uint32_t code =
            connection_->Search(base, LDAP_SCOPE_BASE, "(objectClass=*)", {"1.1"}, true, found);
        if (code == kDirectoryNoSuchObject) return 0;
        if (code != 0) return code;
        LDAPMessage* entry = ldap_first_entry(connection_->Handle(), found.message);
        char* dn = entry ? ldap_get_dn(connection_->Handle(), entry) : nullptr;
        if (!dn) return 0;
        result = Utf8ToWide(dn);
        ldap_memfree(dn);
        status = kNameNoError;
        return 0;
    }

    uint32_t MapSchemaGuid(const GuidBytes& guid, SchemaGuidType& type,
                           std::wstring& name) override {
        type = SchemaGuidType::NotFound;
        if (uint32_t code = Connect()) return code;
        if (uint32_t code = MapSchemaObject(guid, type, name)) return code;
        if (type != SchemaGuidType::NotFound) return 0;
        return MapExtendedRight(guid, type, name);
    }

private:
    uint32_t Connect() {
        uint32_t code = 0;
        connection_ = LdapConnection::Get(server_, code);
        return connection_ ? 0 : code;
    }

    uint32_t MapSchemaObject(const GuidBytes& guid, SchemaGuidType& type, std::wstring& name) {
        LdapConnection::Result found;
        const uint32_t code = connection_->Search(schema_, LDAP_SCOPE_ONELEVEL,
                                                  "(schemaIDGUID=" + HexEscaped(guid) + ")",
                                                  {"lDAPDisplayName", "objectClass"}, false, found);
        if (code != 0) return code;
        LDAP* ld = connection_->Handle();
        LDAPMessage* entry = ldap_first_entry(ld, found.message);
        if (!entry) return 0;
        name = LdapConnection::FirstValue(ld, entry, "lDAPDisplayName");
        type = HasValue(entry, "objectClass", "classSchema") ? SchemaGuidType::Class
                                                             : SchemaGuidType::Attribute;
        return 0;
    }

    uint32_t MapExtendedRight(const GuidBytes& guid, SchemaGuidType& type, std::wstring& name) {
        Guid copy;
        std::copy(guid.begin(), guid.end(), copy.begin());
        const std::wstring text = FormatGuid(copy);
        const std::string filter =
            "(rightsGuid=" + WideToUtf8(ToLower(text.substr(1, text.size() - 2))) + ")";
        LdapConnection::Result found;
        const uint32_t code =
            connection_->Search("CN=Extended-Rights," + configuration_, LDAP_SCOPE_ONELEVEL, filter,
                                {"displayName", "validAccesses"}, false, found);
        if (code != 0) return code;
        LDAP* ld = connection_->Handle();
        LDAPMessage* entry = ldap_first_entry(ld, found.message);
        if (!entry) return 0;
        name = LdapConnection::FirstValue(ld, entry, "displayName");
        // Property sets grant reading and writing properties (0x10, 0x20).
        const int32_t accesses =
            ParseDecimal(LdapConnection::FirstValue(ld, entry, "validAccesses"));
        type = (accesses & 0x30) ? SchemaGuidType::AttributeSet : SchemaGuidType::ControlRight;
        return 0;
    }

    bool HasValue(LDAPMessage* entry, const char* attribute, const char* wanted) {
        berval** values = ldap_get_values_len(connection_->Handle(), entry, attribute);
        bool has = false;
        for (int i = 0; values && values[i]; ++i) {
            if (EqualsNoCase(Utf8ToWide(std::string_view(values[i]->bv_val, values[i]->bv_len)),
                             Utf8ToWide(wanted)))
                has = true;
        }
        ldap_value_free_len(values);
        return has;
    }

    std::wstring server_;
    std::shared_ptr<LdapConnection> connection_;
    std::string configuration_;
    std::string schema_;
};

// The target of the first SRV record of a name, or empty.
std::wstring FirstServiceTarget(const std::string& name) {
    unsigned char answer[4096];
    const int length = res_query(name.c_str(), ns_c_in, ns_t_srv, answer, sizeof answer);
    if (length <= 0) return L"";
    ns_msg message;
    if (ns_initparse(answer, length, &message) != 0) return L"";
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, i, &record) != 0 || ns_rr_type(record) != ns_t_srv ||
            ns_rr_rdlen(record) < 7)
            continue;
        char target[NS_MAXDNAME];
        // Priority, weight and port come first, two bytes each.
        if (dn_expand(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record) + 6, target,
                      sizeof target) < 0)
            continue;
        return Utf8ToWide(target);
    }
    return L"";
}

class PosixDirectory : public IDirectory {
public:
    std::unique_ptr<IDirectoryPathname> CreatePathname(uint32_t& code) override {
        code = 0;
        return std::make_unique<CLdapPath>();
    }

    uint32_t OpenSearch(const std::wstring& path,
                        std::unique_ptr<IDirectorySearch>& search) override {
        Target target;
        if (uint32_t code = ParseTarget(path, target)) return code;
        uint32_t code = 0;
        std::shared_ptr<LdapConnection> connection = LdapConnection::Get(target.server, code);
        if (!connection) return code;
        search = std::make_unique<LdapSearch>(connection, target.base);
        return 0;
    }

    uint32_t GetObject(const std::wstring& path,
                       std::unique_ptr<IDirectoryObject>& object) override {
        Target target;
        if (uint32_t code = ParseTarget(path, target)) return code;
        uint32_t code = 0;
        std::shared_ptr<LdapConnection> connection = LdapConnection::Get(target.server, code);
        if (!connection) return code;
        LdapConnection::Result found;
        code = connection->Search(target.base, LDAP_SCOPE_BASE, "(objectClass=*)", {"*", "+"},
                                  false, found);
        if (code != 0) return code;
        if (!ldap_first_entry(connection->Handle(), found.message)) return kDirectoryNoSuchObject;
        object = std::make_unique<LdapObject>(connection, found.message);
        found.message = nullptr;
        return 0;
    }

    uint32_t Bind(const std::wstring& server, std::shared_ptr<IDirectoryNames>& names) override {
        std::unique_ptr<IDirectoryObject> rootDse;
        const uint32_t code = GetObject(Format(L"LDAP://%s/RootDSE", server), rootDse);
        if (code == kDirectoryServerDown || code == kDirectoryTimeout) return kErrorDsServerDown;
        if (code != 0) return code;
        std::wstring configuration;
        std::wstring schema;
        rootDse->Get(L"configurationNamingContext", configuration);
        rootDse->Get(L"schemaNamingContext", schema);
        names = std::make_shared<LdapNames>(server, WideToUtf8(configuration), WideToUtf8(schema));
        return 0;
    }

    uint32_t GetPrimaryDomainController(const std::wstring& domain,
                                        std::wstring& controller) override {
        std::wstring name = FirstServiceTarget("_ldap._tcp.pdc._msdcs." + WideToUtf8(domain));
        if (name.empty()) name = ReadConfiguredPrimaryDomainController(domain);
        if (name.empty()) return kErrorNoSuchDomain;
        controller = L"\\\\" + name;
        return 0;
    }

    uint32_t EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) override {
        text.clear();
        for (uint8_t byte : bytes) text += Format(L"\\%02x", byte);
        return 0;
    }

    std::wstring DescribeBindFailure(const std::wstring& target, uint32_t code) override {
        Target parsed;
        if (!StartsWithNoCase(target, L"LDAP://"))
            parsed.server = target;
        else if (ParseTarget(target, parsed) != 0)
            return L"";
        return LdapConnection::DescribeFailure(parsed.server, code);
    }
};

IDirectory* installed = nullptr;

}  // namespace

IDirectory& GetDirectory() {
    static PosixDirectory directory;
    return installed ? *installed : directory;
}

void SetDirectoryForTesting(IDirectory* directory) {
    installed = directory;
}

void SetDirectoryCredentialsForTesting(const std::wstring&, const std::wstring&) {}

}  // namespace kx::platform
