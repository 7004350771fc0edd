#include "platform/posix/ServiceDatabase.h"

#include "common/RegFile.h"
#include "common/Text.h"
#include "platform/Registry.h"

namespace kx::platform {
namespace {

// Closes a registry key at the end of a scope.
class CKey {
public:
    CKey() = default;
    ~CKey() {
        if (handle_) RegistryCloseKey(handle_);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    RegistryKeyHandle* Out() { return &handle_; }
    RegistryKeyHandle Get() const { return handle_; }

private:
    RegistryKeyHandle handle_ = 0;
};

std::wstring ServiceKeyPath(const std::wstring& name) {
    return std::wstring(CServiceDatabase::kServicesKey) + L"\\" + name;
}

bool QueryDword(RegistryKeyHandle key, const wchar_t* name, uint32_t* value) {
    uint32_t type = 0;
    uint32_t size = sizeof(*value);
    return RegistryQueryValue(key, name, &type, value, &size) == 0 && type == kRegDword;
}

std::wstring QueryString(RegistryKeyHandle key, const wchar_t* name) {
    uint32_t size = 0;
    if (RegistryQueryValue(key, name, nullptr, nullptr, &size) != 0 || size == 0) return L"";
    std::string bytes(size, '\0');
    if (RegistryQueryValue(key, name, nullptr, bytes.data(), &size) != 0) return L"";
    std::wstring text = Utf16LEToWide(bytes.data(), size);
    return text.substr(0, text.find(L'\0'));
}

uint32_t SetString(RegistryKeyHandle key, const wchar_t* name, uint32_t type,
                   const std::wstring& text) {
    std::string data = RegStringData(text);
    return RegistrySetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t SetDword(RegistryKeyHandle key, const wchar_t* name, uint32_t value) {
    std::string data = RegDwordData(value);
    return RegistrySetValue(key, name, kRegDword, data.data(), 4);
}

std::vector<std::wstring> SplitMultiString(const wchar_t* list) {
    std::vector<std::wstring> names;
    while (list && *list) {
        names.emplace_back(list);
        list += names.back().size() + 1;
    }
    return names;
}

// The value CreateServiceW writes for each parameter given.
uint32_t WriteValues(RegistryKeyHandle key, const ServiceCreation& c) {
    uint32_t error = SetDword(key, L"Type", c.serviceType);
    if (!error) error = SetDword(key, L"Start", c.startType);
    if (!error) error = SetDword(key, L"ErrorControl", c.errorControl);
    if (!error) error = SetString(key, L"ImagePath", kRegExpandSz, c.binaryPathName);
    if (!error && c.displayName) error = SetString(key, L"DisplayName", kRegSz, c.displayName);
    if (!error && c.loadOrderGroup && *c.loadOrderGroup) {
        error = SetString(key, L"Group", kRegSz, c.loadOrderGroup);
    }
    std::vector<std::wstring> dependencies = SplitMultiString(c.dependencies);
    if (!error && !dependencies.empty()) {
        std::string data = RegMultiStringData(dependencies);
        error = RegistrySetValue(key, L"DependOnService", kRegMultiSz, data.data(),
                                 static_cast<uint32_t>(data.size()));
    }
    const wchar_t* account =
        c.serviceStartName && *c.serviceStartName ? c.serviceStartName : L"LocalSystem";
    if (!error) error = SetString(key, L"ObjectName", kRegSz, account);
    return error;
}

}  // namespace

bool CServiceDatabase::Read(const std::wstring& name, ServiceConfig* config) {
    CKey key;
    if (name.empty() ||
        RegistryOpenKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyRead, key.Out()) != 0) {
        return false;
    }
    config->imagePath = QueryString(key.Get(), L"ImagePath");
    if (config->imagePath.empty()) return false;
    config->name = name;
    for (const std::wstring& stored : ServiceNames()) {
        if (EqualsNoCase(stored, name)) config->name = stored;
    }
    QueryDword(key.Get(), L"Type", &config->type);
    QueryDword(key.Get(), L"Start", &config->startType);
    uint32_t flag = 0;
    config->markedForDelete = QueryDword(key.Get(), L"DeleteFlag", &flag) && flag != 0;
    return true;
}

uint32_t CServiceDatabase::Create(const ServiceCreation& creation) {
    ServiceConfig existing;
    if (Read(creation.serviceName, &existing)) {
        return existing.markedForDelete ? kErrorServiceMarkedForDelete : kErrorServiceExists;
    }
    CKey key;
    uint32_t error = RegistryCreateKey(kHkeyLocalMachine, ServiceKeyPath(creation.serviceName),
                                       kKeyAllAccess, key.Out());
    if (error) return error;
    error = WriteValues(key.Get(), creation);
    if (error) RegistryDeleteTree(kHkeyLocalMachine, ServiceKeyPath(creation.serviceName));
    return error;
}

uint32_t CServiceDatabase::Remove(const std::wstring& name) {
    return RegistryDeleteTree(kHkeyLocalMachine, ServiceKeyPath(name));
}

uint32_t CServiceDatabase::MarkForDelete(const std::wstring& name) {
    CKey key;
    uint32_t error =
        RegistryOpenKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyAllAccess, key.Out());
    return error ? error : SetDword(key.Get(), L"DeleteFlag", 1);
}

uint32_t CServiceDatabase::SetDescription(const std::wstring& name, const wchar_t* description) {
    CKey key;
    uint32_t error =
        RegistryOpenKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyAllAccess, key.Out());
    if (error) return error;
    if (!description || !*description) {
        uint32_t removed = RegistryDeleteValue(key.Get(), L"Description");
        return removed == kRegistryFileNotFound ? 0 : removed;
    }
    return SetString(key.Get(), L"Description", kRegSz, description);
}

std::vector<std::wstring> CServiceDatabase::ServiceNames() {
    std::vector<std::wstring> names;
    CKey services;
    if (RegistryOpenKey(kHkeyLocalMachine, kServicesKey, kKeyRead, services.Out()) != 0) {
        return names;
    }
    wchar_t name[256];
    for (uint32_t index = 0; RegistryEnumKey(services.Get(), index, name, 256) == 0; ++index) {
        CKey key;
        if (RegistryOpenKey(services.Get(), name, kKeyRead, key.Out()) == 0 &&
            !QueryString(key.Get(), L"ImagePath").empty()) {
            names.emplace_back(name);
        }
    }
    return names;
}

}  // namespace kx::platform
