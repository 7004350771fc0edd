#include "config/RegistryTransfer.h"

#include "common/Text.h"

namespace reg = kx::platform;

uint32_t ListSubkeyNames(reg::RegistryKeyHandle key, std::vector<std::wstring>* names) {
    reg::RegistryKeyInfo info;
    if (uint32_t status = reg::RegistryQueryInfoKey(key, &info); status != 0) return status;
    std::vector<wchar_t> name(info.maxSubkeyLength + 1);
    for (uint32_t index = 0;
         reg::RegistryEnumKey(key, index, name.data(), static_cast<uint32_t>(name.size())) == 0;
         ++index) {
        names->emplace_back(name.data());
    }
    return 0;
}

namespace {

struct RootName {
    const wchar_t* full;
    const wchar_t* abbreviation;
    reg::RegistryKeyHandle handle;
};

constexpr RootName kRoots[] = {
    {L"HKEY_CLASSES_ROOT", L"HKCR", reg::kHkeyClassesRoot},
    {L"HKEY_CURRENT_USER", L"HKCU", reg::kHkeyCurrentUser},
    {L"HKEY_LOCAL_MACHINE", L"HKLM", reg::kHkeyLocalMachine},
    {L"HKEY_USERS", L"HKU", reg::kHkeyUsers},
};

uint32_t ExportTree(reg::RegistryKeyHandle key, const std::wstring& path,
                    std::vector<kx::RegFileKey>* keys) {
    kx::RegFileKey section;
    section.path = path;
    reg::RegistryValue value;
    for (uint32_t index = 0; reg::RegistryEnumValue(key, index, &value) == 0; ++index) {
        section.values.push_back(kx::RegFileValue{value.name, value.type, value.data, false});
    }
    keys->push_back(std::move(section));
    std::vector<std::wstring> children;
    if (uint32_t status = ListSubkeyNames(key, &children); status != 0) return status;
    for (const std::wstring& child : children) {
        reg::RegistryKeyHandle childKey = 0;
        if (reg::RegistryOpenKey(key, child, reg::kKeyRead, &childKey) != 0) continue;
        uint32_t status = ExportTree(childKey, path + L"\\" + child, keys);
        reg::RegistryCloseKey(childKey);
        if (status != 0) return status;
    }
    return 0;
}

uint32_t ImportKey(const kx::RegFileKey& section) {
    reg::RegistryKeyHandle root = 0;
    std::wstring subkey;
    if (!ParseRegistryPath(section.path, &root, &subkey)) return reg::kRegistryBadPathName;
    if (section.remove) {
        uint32_t status = reg::RegistryDeleteTree(root, subkey);
        return status == reg::kRegistryFileNotFound ? 0 : status;
    }
    reg::RegistryKeyHandle key = 0;
    uint32_t status = reg::RegistryCreateKey(root, subkey, reg::kKeyAllAccess, &key);
    for (auto value = section.values.begin(); status == 0 && value != section.values.end();
         ++value) {
        if (value->remove) {
            status = reg::RegistryDeleteValue(key, value->name);
            if (status == reg::kRegistryFileNotFound) status = 0;
        } else {
            status = reg::RegistrySetValue(key, value->name, value->type, value->data.data(),
                                           static_cast<uint32_t>(value->data.size()));
        }
    }
    if (key) reg::RegistryCloseKey(key);
    return status;
}

}  // namespace

bool ParseRegistryPath(const std::wstring& path, reg::RegistryKeyHandle* root,
                       std::wstring* subkey) {
    std::size_t separator = path.find(L'\\');
    std::wstring rootName = path.substr(0, separator);
    for (const RootName& candidate : kRoots) {
        if (kx::EqualsNoCase(rootName, candidate.full) ||
            kx::EqualsNoCase(rootName, candidate.abbreviation)) {
            *root = candidate.handle;
            *subkey = separator == std::wstring::npos ? std::wstring() : path.substr(separator + 1);
            return true;
        }
    }
    return false;
}

uint32_t ExportRegistryKey(const std::wstring& path, std::vector<kx::RegFileKey>* keys) {
    keys->clear();
    reg::RegistryKeyHandle root = 0;
    std::wstring subkey;
    if (!ParseRegistryPath(path, &root, &subkey)) return reg::kRegistryBadPathName;
    reg::RegistryKeyHandle key = 0;
    if (uint32_t status = reg::RegistryOpenKey(root, subkey, reg::kKeyRead, &key); status != 0) {
        return status;
    }
    std::wstring fullPath = reg::PredefinedRegistryKeyName(root);
    if (!subkey.empty()) fullPath += L"\\" + subkey;
    while (!fullPath.empty() && fullPath.back() == L'\\') fullPath.pop_back();
    uint32_t status = ExportTree(key, fullPath, keys);
    reg::RegistryCloseKey(key);
    return status;
}

uint32_t ImportRegistryKeys(const std::vector<kx::RegFileKey>& keys, std::wstring* failedPath) {
    for (const kx::RegFileKey& section : keys) {
        if (uint32_t status = ImportKey(section); status != 0) {
            *failedPath = section.path;
            return status;
        }
    }
    return 0;
}
