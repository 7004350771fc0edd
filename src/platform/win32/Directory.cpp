#include "platform/Directory.h"

#include <windows.h>
// After windows.h, which they need; COM's headers before ADSI's (the lean
// windows.h leaves them out).
#include <ole2.h>
#include <oleauto.h>
// clang-format off
#include <activeds.h>
#include <dsgetdc.h>
#include <lmcons.h>
#include <lmapibuf.h>
#include <ntdsapi.h>
// clang-format on
// The port names its object read GetObject; windows.h makes that GetObjectW.
#undef GetObject

#include <cstring>

#include "common/Format.h"
#include "platform/SystemMessage.h"

namespace kx::platform {
namespace {

std::wstring explicitUser;
std::wstring explicitPassword;

// The service's own credentials, Kerberos or NTLM, and every message of the
// connection signed and sealed: a directory answer can be neither read nor
// changed on the way.
constexpr DWORD kSecureBind = ADS_SECURE_AUTHENTICATION | ADS_USE_SIGNING | ADS_USE_SEALING;

// Failures of the question, not of reaching or binding the directory.
bool IsAnswer(uint32_t code) {
    switch (code) {
        case kDirectoryNoSuchObject:
        case kDirectoryBadPathname:
        case kDirectoryPropertyNotFound:
        case kDirectoryNoColumn:
        case kDirectoryNoMoreRows:
        case kDirectoryInvalidArgument:
        case kDirectoryNotImplemented:
            return true;
        default:
            return false;
    }
}

// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(const std::wstring& text)
        : value_(SysAllocStringLen(text.data(), Length(text))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* Out() { return &value_; }
    operator BSTR() const { return value_; }
    std::wstring Text() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : L""; }

private:
    static UINT Length(const std::wstring& text) { return static_cast<UINT>(text.size()); }
    BSTR value_ = nullptr;
};

uint32_t Code(HRESULT result) {
    return static_cast<uint32_t>(result);
}

class Pathname : public IDirectoryPathname {
public:
    explicit Pathname(IADsPathname* pathname) : pathname_(pathname) {}
    ~Pathname() override { pathname_->Release(); }
    Pathname(const Pathname&) = delete;
    Pathname& operator=(const Pathname&) = delete;

    uint32_t Set(const std::wstring& path, PathSetType type) override {
        Bstr text(path);
        return Code(pathname_->Set(text, static_cast<long>(type)));
    }
    uint32_t Retrieve(PathFormat format, std::wstring& text) override {
        Bstr value;
        const HRESULT result = pathname_->Retrieve(static_cast<long>(format), value.Out());
        if (SUCCEEDED(result)) text = value.Text();
        return Code(result);
    }
    uint32_t RemoveLeafElement() override { return Code(pathname_->RemoveLeafElement()); }
    uint32_t GetNumElements(long& count) override {
        return Code(pathname_->GetNumElements(&count));
    }
    uint32_t GetElement(long index, std::wstring& element) override {
        Bstr value;
        const HRESULT result = pathname_->GetElement(index, value.Out());
        if (SUCCEEDED(result)) element = value.Text();
        return Code(result);
    }

private:
    IADsPathname* pathname_;
};

class Search : public IDirectorySearch {
public:
    explicit Search(::IDirectorySearch* search) : search_(search) {}
    ~Search() override {
        CloseSearchHandle();
        search_->Release();
    }
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    uint32_t SetSearchPreference(const std::vector<SearchPreference>& preferences) override {
        std::vector<ADS_SEARCHPREF_INFO> infos(preferences.size());
        for (std::size_t i = 0; i < preferences.size(); ++i) {
            infos[i].dwSearchPref = static_cast<ADS_SEARCHPREF_ENUM>(preferences[i].kind);
            const bool boolean = preferences[i].kind == SearchPreferenceKind::CacheResults ||
                                 preferences[i].kind == SearchPreferenceKind::Tombstone;
            infos[i].vValue.dwType = boolean ? ADSTYPE_BOOLEAN : ADSTYPE_INTEGER;
            if (boolean)
                infos[i].vValue.Boolean = preferences[i].value ? TRUE : FALSE;
            else
                infos[i].vValue.Integer = preferences[i].value;
        }
        return Code(search_->SetSearchPreference(infos.data(), static_cast<DWORD>(infos.size())));
    }
    uint32_t ExecuteSearch(const std::wstring& filter,
                           const std::vector<std::wstring>& attributes) override {
        CloseSearchHandle();
        std::vector<std::wstring> copies(attributes);
        std::vector<LPWSTR> names;
        for (std::wstring& name : copies) names.push_back(name.data());
        std::wstring filterCopy(filter);
        return Code(search_->ExecuteSearch(filterCopy.data(), names.data(),
                                           static_cast<DWORD>(names.size()), &handle_));
    }
    uint32_t GetNextRow() override {
        if (!handle_) return kDirectoryNoMoreRows;
        return Code(search_->GetNextRow(handle_));
    }
    uint32_t GetStringColumn(const std::wstring& name, std::wstring& value) override {
        return WithColumn(name, [&](const ADSVALUE& first) {
            const wchar_t* text = nullptr;
            switch (first.dwType) {
                case ADSTYPE_DN_STRING:
                    text = first.DNString;
                    break;
                case ADSTYPE_CASE_EXACT_STRING:
                    text = first.CaseExactString;
                    break;
                case ADSTYPE_CASE_IGNORE_STRING:
                    text = first.CaseIgnoreString;
                    break;
                case ADSTYPE_PRINTABLE_STRING:
                    text = first.PrintableString;
                    break;
                default:
                    return false;
            }
            value = text ? text : L"";
            return true;
        });
    }
    uint32_t GetOctetColumn(const std::wstring& name, std::vector<uint8_t>& value) override {
        return WithColumn(name, [&](const ADSVALUE& first) {
            if (first.dwType != ADSTYPE_OCTET_STRING) return false;
            const uint8_t* bytes = first.OctetString.lpValue;
            value.assign(bytes, bytes + first.OctetString.dwLength);
            return true;
        });
    }
    uint32_t CloseSearchHandle() override {
        if (!handle_) return 0;
        const HRESULT result = search_->CloseSearchHandle(handle_);
        handle_ = nullptr;
        return Code(result);
    }

private:
    template <typename Read>
    uint32_t WithColumn(const std::wstring& name, Read read) {
        if (!handle_) return kDirectoryNoColumn;
        ADS_SEARCH_COLUMN column;
        std::wstring copy(name);
        const HRESULT result = search_->GetColumn(handle_, copy.data(), &column);
        if (FAILED(result)) return Code(result);
        const bool ok = column.dwNumValues > 0 && column.pADsValues && read(column.pADsValues[0]);
        search_->FreeColumn(&column);
        return ok ? 0 : kDirectoryNoColumn;
    }

    ::IDirectorySearch* search_;
    ADS_SEARCH_HANDLE handle_ = nullptr;
};

class Object : public IDirectoryObject {
public:
    explicit Object(IADs* object) : object_(object) {}
    ~Object() override { object_->Release(); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    uint32_t Get(const std::wstring& name, std::wstring& value) override {
        Bstr property(name);
        VARIANT variant;
        VariantInit(&variant);
        HRESULT result = object_->Get(property, &variant);
        if (SUCCEEDED(result)) result = VariantChangeType(&variant, &variant, 0, VT_BSTR);
        if (SUCCEEDED(result)) value.assign(variant.bstrVal, SysStringLen(variant.bstrVal));
        VariantClear(&variant);
        return Code(result);
    }

private:
    IADs* object_;
};

class Names : public IDirectoryNames {
public:
    explicit Names(HANDLE handle) : handle_(handle) {}
    ~Names() override { DsUnBindW(&handle_); }
    Names(const Names&) = delete;
    Names& operator=(const Names&) = delete;

    uint32_t CrackName(NameFormat offered, NameFormat desired, const std::wstring& name,
                       uint32_t& status, std::wstring& result) override {
        const wchar_t* names[] = {name.c_str()};
        PDS_NAME_RESULTW answer = nullptr;
        const DWORD code = DsCrackNamesW(
            handle_,
            static_cast<DS_NAME_FLAGS>(DS_NAME_FLAG_EVAL_AT_DC | DS_NAME_FLAG_TRUST_REFERRAL),
            static_cast<DS_NAME_FORMAT>(offered), static_cast<DS_NAME_FORMAT>(desired), 1, names,
            &answer);
        if (code == 0 && answer && answer->cItems > 0) {
            status = answer->rItems[0].status;
            if (answer->rItems[0].pName) result = answer->rItems[0].pName;
        }
        if (answer) DsFreeNameResultW(answer);
        return code;
    }
    uint32_t MapSchemaGuid(const GuidBytes& guid, SchemaGuidType& type,
                           std::wstring& name) override {
        GUID value;
        std::memcpy(&value, guid.data(), sizeof value);
        PDS_SCHEMA_GUID_MAPW map = nullptr;
        const DWORD code = DsMapSchemaGuidsW(handle_, 1, &value, &map);
        if (code == 0 && map) {
            type = static_cast<SchemaGuidType>(map[0].guidType);
            if (map[0].pName) name = map[0].pName;
        }
        if (map) DsFreeSchemaGuidMapW(map);
        return code;
    }

private:
    HANDLE handle_;
};

class Win32Directory : public IDirectory {
public:
    std::unique_ptr<IDirectoryPathname> CreatePathname(uint32_t& code) override {
        IADsPathname* pathname = nullptr;
        const HRESULT result =
            CoCreateInstance(CLSID_Pathname, nullptr, CLSCTX_INPROC_SERVER, IID_IADsPathname,
                             reinterpret_cast<void**>(&pathname));
        code = Code(result);
        if (FAILED(result) || !pathname) return nullptr;
        return std::make_unique<Pathname>(pathname);
    }

    uint32_t OpenSearch(const std::wstring& path,
                        std::unique_ptr<IDirectorySearch>& search) override {
        ::IDirectorySearch* opened = nullptr;
        const bool explicitCredentials = !explicitUser.empty();
        // Tests under Wine only: Wine has no bind with the service's own credentials.
        const HRESULT result =
            ADsOpenObject(path.c_str(), explicitCredentials ? explicitUser.c_str() : nullptr,
                          explicitCredentials ? explicitPassword.c_str() : nullptr,
                          explicitCredentials ? DWORD{ADS_FAST_BIND} : kSecureBind | ADS_FAST_BIND,
                          IID_IDirectorySearch, reinterpret_cast<void**>(&opened));
        if (FAILED(result) || !opened) return Code(result);
        search = std::make_unique<Search>(opened);
        return 0;
    }

    uint32_t GetObject(const std::wstring& path,
                       std::unique_ptr<IDirectoryObject>& object) override {
        IADs* opened = nullptr;
        // Tests under Wine: its ADsGetObject reads RootDSE anonymously, a
        // secure bind it cannot make.
        const HRESULT result =
            explicitUser.empty()
                ? ADsOpenObject(path.c_str(), nullptr, nullptr, kSecureBind, IID_IADs,
                                reinterpret_cast<void**>(&opened))
                : ADsGetObject(path.c_str(), IID_IADs, reinterpret_cast<void**>(&opened));
        if (FAILED(result) || !opened) return Code(result);
        object = std::make_unique<Object>(opened);
        return 0;
    }

    uint32_t Bind(const std::wstring& server, std::shared_ptr<IDirectoryNames>& names) override {
        HANDLE handle = nullptr;
        const DWORD code = DsBindW(server.c_str(), nullptr, &handle);
        if (code != 0 || !handle) return code ? code : kErrorDsServerDown;
        names = std::make_shared<Names>(handle);
        return 0;
    }

    uint32_t GetPrimaryDomainController(const std::wstring& domain,
                                        std::wstring& controller) override {
        PDOMAIN_CONTROLLER_INFOW info = nullptr;
        const DWORD code = DsGetDcNameW(
            nullptr, domain.c_str(), nullptr, nullptr,
            DS_DIRECTORY_SERVICE_REQUIRED | DS_PDC_REQUIRED | DS_RETURN_DNS_NAME, &info);
        if (code == 0 && info && info->DomainControllerName)
            controller = info->DomainControllerName;
        if (info) NetApiBufferFree(info);
        return code;
    }

    uint32_t EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) override {
        LPWSTR encoded = nullptr;
        const HRESULT result = ADsEncodeBinaryData(const_cast<PBYTE>(bytes.data()),
                                                   static_cast<DWORD>(bytes.size()), &encoded);
        if (SUCCEEDED(result) && encoded) text = encoded;
        if (encoded) FreeADsMem(encoded);
        return Code(result);
    }

    std::wstring DescribeBindFailure(const std::wstring& target, uint32_t code) override {
        if (code == 0 || IsAnswer(code)) return L"";
        const bool path = target.rfind(L"LDAP://", 0) == 0;
        const std::wstring method =
            !path ? L"DsBindW with the service's credentials"
            : explicitUser.empty()
                ? L"secure bind with the service's credentials, signed and sealed"
                : L"simple bind as " + explicitUser;
        std::wstring reason = GetSystemErrorText(code);
        while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r'))
            reason.pop_back();
        const std::wstring number = Format(path ? L"0x%08X" : L"%u", code);
        return Format(L"%s (%s): %s", target, method,
                      reason.empty() ? L"error " + number : reason + L" (" + number + L")");
    }
};

IDirectory* installed = nullptr;

}  // namespace

IDirectory& GetDirectory() {
    static Win32Directory directory;
    return installed ? *installed : directory;
}

void SetDirectoryForTesting(IDirectory* directory) {
    installed = directory;
}

void SetDirectoryCredentialsForTesting(const std::wstring& user, const std::wstring& password) {
    explicitUser = user;
    explicitPassword = password;
}

}  // namespace kx::platform
