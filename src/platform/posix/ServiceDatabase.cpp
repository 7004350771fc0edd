#include "platform/posix/ServiceDatabase.h"

#include <algorithm>

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

uint32_t ReadLittleEndian(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

std::string QueryBytes(RegistryKeyHandle key, const wchar_t* name) {
    uint32_t type = 0;
    uint32_t size = 0;
    if (RegistryQueryValue(key, name, &type, nullptr, &size) != 0 || type != kRegBinary) return "";
    std::string bytes(size, '\0');
    if (RegistryQueryValue(key, name, &type, bytes.data(), &size) != 0) return "";
    bytes.resize(size);
    return bytes;
}

constexpr std::size_t kFailureActionsHeader = 20;

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

uint32_t OpenServiceKey(const std::wstring& name, CKey* key) {
    return RegistryOpenKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyAllAccess, key->Out());
}

}  // namespace

ServiceCommandLine SplitImagePath(const std::wstring& imagePath) {
    ServiceCommandLine line;
    std::size_t rest = imagePath.size();
    if (!imagePath.empty() && imagePath[0] == L'"') {
        std::size_t close = imagePath.find(L'"', 1);
        if (close == std::wstring::npos) close = imagePath.size();
        line.image = imagePath.substr(1, close - 1);
        rest = std::min(close + 1, imagePath.size());
    } else {
        line.image = imagePath;
    }
    for (std::size_t at = rest; at < imagePath.size();) {
        std::size_t start = imagePath.find_first_not_of(L" \t", at);
        if (start == std::wstring::npos) break;
        std::size_t end = imagePath.find_first_of(L" \t", start);
        if (end == std::wstring::npos) end = imagePath.size();
        line.arguments.push_back(imagePath.substr(start, end - start));
        at = end;
    }
    return line;
}

std::string EncodeFailureActions(const ServiceFailureActions& failureActions) {
    const uint32_t count = static_cast<uint32_t>(failureActions.actions.size());
    std::string bytes = RegDwordData(failureActions.resetPeriod) + RegDwordData(0) +
                        RegDwordData(0) + RegDwordData(count) +
                        RegDwordData(count ? static_cast<uint32_t>(kFailureActionsHeader) : 0);
    for (const ServiceAction& action : failureActions.actions) {
        bytes += RegDwordData(action.type) + RegDwordData(action.delay);
    }
    return bytes;
}

bool DecodeFailureActions(const std::string& bytes, ServiceFailureActions* failureActions) {
    if (bytes.size() < kFailureActionsHeader) return false;
    const uint32_t count = ReadLittleEndian(bytes, 12);
    if (count > (bytes.size() - kFailureActionsHeader) / 8) return false;
    failureActions->resetPeriod = ReadLittleEndian(bytes, 0);
    failureActions->actions.clear();
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t at = kFailureActionsHeader + 8 * i;
        failureActions->actions.push_back(
            ServiceAction{ReadLittleEndian(bytes, at), ReadLittleEndian(bytes, at + 4)});
    }
    return true;
}

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
    if (!DecodeFailureActions(QueryBytes(key.Get(), L"FailureActions"), &config->failureActions)) {
        config->failureActions = ServiceFailureActions{};
    }
    flag = 0;
    config->failureActionsOnNonCrashFailures =
        QueryDword(key.Get(), L"FailureActionsOnNonCrashFailures", &flag) && flag != 0;
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

uint32_t CServiceDatabase::SetFailureActions(const std::wstring& name,
                                             const ServiceFailureActions& failureActions) {
    CKey key;
    if (uint32_t error = OpenServiceKey(name, &key)) return error;
    std::string data = EncodeFailureActions(failureActions);
    return RegistrySetValue(key.Get(), L"FailureActions", kRegBinary, data.data(),
                            static_cast<uint32_t>(data.size()));
}

uint32_t CServiceDatabase::SetFailureActionsFlag(const std::wstring& name,
                                                 bool onNonCrashFailures) {
    CKey key;
    if (uint32_t error = OpenServiceKey(name, &key)) return error;
    return SetDword(key.Get(), L"FailureActionsOnNonCrashFailures", onNonCrashFailures ? 1 : 0);
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
