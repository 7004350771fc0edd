#pragma once
// The directory: LDAP paths, searches, object reads and the directory
// service's name calls, at the grain of the platform's calls.
//   Windows: ADSI (IADsPathname, ADsOpenObject with IDirectorySearch,
//            ADsGetObject with IADs, ADsEncodeBinaryData) and DsBindW,
//            DsCrackNamesW, DsMapSchemaGuidsW, DsGetDcNameW.
//   Linux:   the OpenLDAP client library against the server that the
//            machine registry names for a server name (posix/LdapSettings.h);
//            paths are parsed by the agent's own CLdapPath; the name calls
//            are LDAP searches.
// Codes are HRESULTs for the ADSI calls (0 success) and Win32 codes for the
// Ds* calls, as the platform answers them.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kx::platform {

inline constexpr uint32_t kDirectoryNoMoreRows = 0x00005012;          // S_ADS_NOMORE_ROWS
inline constexpr uint32_t kDirectoryBadPathname = 0x80005000;         // E_ADS_BAD_PATHNAME
inline constexpr uint32_t kDirectoryPropertyNotFound = 0x8000500D;    // E_ADS_PROPERTY_NOT_FOUND
inline constexpr uint32_t kDirectoryNoColumn = 0x80005010;            // E_ADS_COLUMN_NOT_SET
inline constexpr uint32_t kDirectoryNotImplemented = 0x80004001;      // E_NOTIMPL
inline constexpr uint32_t kDirectoryInvalidArgument = 0x80070057;     // E_INVALIDARG
inline constexpr uint32_t kDirectoryServerDown = 0x8007203A;          // ERROR_DS_SERVER_DOWN
inline constexpr uint32_t kDirectoryNoSuchObject = 0x80072030;        // ERROR_DS_NO_SUCH_OBJECT
inline constexpr uint32_t kDirectoryOperationsError = 0x80072020;     // ERROR_DS_OPERATIONS_ERROR
inline constexpr uint32_t kDirectoryInvalidCredentials = 0x8007052E;  // ERROR_LOGON_FAILURE
inline constexpr uint32_t kDirectoryTimeout = 0x800705B4;             // ERROR_TIMEOUT
inline constexpr uint32_t kErrorDsServerDown = 8250;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorNoSuchDomain = 1355;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;

// ADS_SETTYPE_*.
enum class PathSetType : uint32_t { Full = 1, Provider = 2, Server = 3, Dn = 4 };
// ADS_FORMAT_*.
enum class PathFormat : uint32_t {
    Windows = 1,
    WindowsNoServer = 2,
    WindowsDn = 3,
    WindowsParent = 4,
    X500 = 5,
    X500NoServer = 6,
    X500Dn = 7,
    X500Parent = 8,
    Server = 9,
    Provider = 10,
    Leaf = 11,
};

// An IADsPathname.
class IDirectoryPathname {
public:
    virtual ~IDirectoryPathname() = default;
    virtual uint32_t Set(const std::wstring& path, PathSetType type) = 0;
    virtual uint32_t Retrieve(PathFormat format, std::wstring& text) = 0;
    virtual uint32_t RemoveLeafElement() = 0;
    virtual uint32_t GetNumElements(long& count) = 0;
    // Element 0 is the leaf.
    virtual uint32_t GetElement(long index, std::wstring& element) = 0;
};

// ADS_SEARCHPREF_* with the values the agent gives them.
enum class SearchPreferenceKind : uint32_t {
    SearchScope = 5,    // value: 2, ADS_SCOPE_SUBTREE
    PageSize = 11,      // value: rows per page
    CacheResults = 14,  // value: 0 or 1
    Tombstone = 15,     // value: 0 or 1
};
struct SearchPreference {
    SearchPreferenceKind kind;
    uint32_t value;
};
inline constexpr uint32_t kScopeSubtree = 2;

// An IDirectorySearch with one search open at a time.
class IDirectorySearch {
public:
    virtual ~IDirectorySearch() = default;
    virtual uint32_t SetSearchPreference(const std::vector<SearchPreference>& preferences) = 0;
    virtual uint32_t ExecuteSearch(const std::wstring& filter,
                                   const std::vector<std::wstring>& attributes) = 0;
    // 0 with a row, kDirectoryNoMoreRows after the last.
    virtual uint32_t GetNextRow() = 0;
    // The first value of a column of the current row.
    virtual uint32_t GetStringColumn(const std::wstring& name, std::wstring& value) = 0;
    virtual uint32_t GetOctetColumn(const std::wstring& name, std::vector<uint8_t>& value) = 0;
    virtual uint32_t CloseSearchHandle() = 0;
};

// An IADs: one object's attributes.
class IDirectoryObject {
public:
    virtual ~IDirectoryObject() = default;
    virtual uint32_t Get(const std::wstring& name, std::wstring& value) = 0;
};

// DS_NAME_FORMAT.
enum class NameFormat : uint32_t { Fqdn1779 = 1, UniqueId = 6, SidOrSidHistory = 11 };
// DS_NAME_ERROR.
inline constexpr uint32_t kNameNoError = 0;
inline constexpr uint32_t kNameNotFound = 2;
// DS_SCHEMA_GUID_*.
enum class SchemaGuidType : uint32_t {
    NotFound = 0,
    Attribute = 1,
    AttributeSet = 2,
    Class = 3,
    ControlRight = 4,
};
using GuidBytes = std::array<uint8_t, 16>;  // a GUID as it lies in memory

// A handle of DsBindW; unbound when the last owner lets go.
class IDirectoryNames {
public:
    virtual ~IDirectoryNames() = default;
    // DsCrackNamesW with DS_NAME_FLAG_EVAL_AT_DC | DS_NAME_FLAG_TRUST_REFERRAL
    // for one name: the call's code, the item's status and name.
    virtual uint32_t CrackName(NameFormat offered, NameFormat desired, const std::wstring& name,
                               uint32_t& status, std::wstring& result) = 0;
    // DsMapSchemaGuidsW for one GUID.
    virtual uint32_t MapSchemaGuid(const GuidBytes& guid, SchemaGuidType& type,
                                   std::wstring& name) = 0;
};

class IDirectory {
public:
    virtual ~IDirectory() = default;
    // CoCreateInstance of the path-name class; null with the code on failure.
    virtual std::unique_ptr<IDirectoryPathname> CreatePathname(uint32_t& code) = 0;
    // ADsOpenObject(path, no user, no password, ADS_SECURE_AUTHENTICATION |
    // ADS_FAST_BIND) for IDirectorySearch: the service's own credentials.
    virtual uint32_t OpenSearch(const std::wstring& path,
                                std::unique_ptr<IDirectorySearch>& search) = 0;
    // ADsGetObject(path) for IADs.
    virtual uint32_t GetObject(const std::wstring& path,
                               std::unique_ptr<IDirectoryObject>& object) = 0;
    // DsBindW(server, no domain).
    virtual uint32_t Bind(const std::wstring& server, std::shared_ptr<IDirectoryNames>& names) = 0;
    // DsGetDcNameW(no computer, domain, no GUID, no site,
    // DS_DIRECTORY_SERVICE_REQUIRED | DS_PDC_REQUIRED | DS_RETURN_DNS_NAME):
    // the DomainControllerName ("\\dc1.example.test").
    virtual uint32_t GetPrimaryDomainController(const std::wstring& domain,
                                                std::wstring& controller) = 0;
    // ADsEncodeBinaryData: "\xx" for every byte.
    virtual uint32_t EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) = 0;
    // Why a call on target (an LDAP path, or the server of a DS bind or name
    // call) failed with code, when it failed because the directory could not
    // be reached or bound: the URI or path, the bind method and the
    // platform's reason. Empty for any other failure. Never a password.
    virtual std::wstring DescribeBindFailure(const std::wstring& /*target*/, uint32_t /*code*/) {
        return L"";
    }
};

// The platform's directory, or the one a test installed.
IDirectory& GetDirectory();
// nullptr restores the platform's own.
void SetDirectoryForTesting(IDirectory* directory);

// Windows only, for tests: explicit credentials (a simple bind) instead of
// the service's own for OpenSearch, which Wine cannot give. The service never
// calls this; Linux takes its credentials from the registry.
void SetDirectoryCredentialsForTesting(const std::wstring& user, const std::wstring& password);

}  // namespace kx::platform
