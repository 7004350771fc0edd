#include "platform/Registry.h"

#include <windows.h>

namespace kx::platform {
namespace {

HKEY ToHkey(RegistryKeyHandle key) {
    return reinterpret_cast<HKEY>(key);
}

RegistryKeyHandle FromHkey(HKEY key) {
    return reinterpret_cast<RegistryKeyHandle>(key);
}

uint32_t Code(LSTATUS status) {
    return static_cast<uint32_t>(status);
}

}  // namespace

uint32_t RegistryCreateKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t access,
                           RegistryKeyHandle* result) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(ToHkey(parent), subkey.c_str(), 0, nullptr, 0, access, nullptr,
                                     &key, nullptr);
    if (status == ERROR_SUCCESS) *result = FromHkey(key);
    return Code(status);
}

uint32_t RegistryOpenKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t access,
                         RegistryKeyHandle* result) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(ToHkey(parent), subkey.c_str(), 0, access, &key);
    if (status == ERROR_SUCCESS) *result = FromHkey(key);
    return Code(status);
}

uint32_t RegistryQueryValue(RegistryKeyHandle key, const std::wstring& name, uint32_t* type,
                            void* data, uint32_t* size) {
    DWORD valueType = 0;
    DWORD byteCount = size ? *size : 0;
    LSTATUS status = RegQueryValueExW(ToHkey(key), name.c_str(), nullptr, &valueType,
                                      static_cast<BYTE*>(data), size ? &byteCount : nullptr);
    if (type) *type = valueType;
    if (size) *size = byteCount;
    return Code(status);
}

uint32_t RegistrySetValue(RegistryKeyHandle key, const std::wstring& name, uint32_t type,
                          const void* data, uint32_t size) {
    return Code(
        RegSetValueExW(ToHkey(key), name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
}

uint32_t RegistryEnumKey(RegistryKeyHandle key, uint32_t index, wchar_t* name, uint32_t capacity) {
    return Code(RegEnumKeyW(ToHkey(key), index, name, capacity));
}

uint32_t RegistryEnumValue(RegistryKeyHandle key, uint32_t index, RegistryValue* value) {
    RegistryKeyInfo info;
    if (uint32_t status = RegistryQueryInfoKey(key, &info); status != ERROR_SUCCESS) return status;
    std::wstring name(info.maxValueNameLength + 1, L'\0');
    std::string data(info.maxValueDataSize, '\0');
    // The value may grow between the two calls: retry with the sizes it has now.
    for (;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LSTATUS status = RegEnumValueW(ToHkey(key), index, name.data(), &nameLength, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2 + 256);
            data.resize(dataSize > data.size() ? dataSize : data.size() * 2 + 256);
            continue;
        }
        if (status != ERROR_SUCCESS) return Code(status);
        value->name.assign(name.data(), nameLength);
        value->type = type;
        value->data.assign(data.data(), dataSize);
        return ERROR_SUCCESS;
    }
}

uint32_t RegistryQueryInfoKey(RegistryKeyHandle key, RegistryKeyInfo* info) {
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0, maxData = 0;
    LSTATUS status = RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, &maxSubkey,
                                      nullptr, &values, &maxValueName, &maxData, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        *info = RegistryKeyInfo{subkeys, maxSubkey, values, maxValueName, maxData};
    }
    return Code(status);
}

uint32_t RegistryDeleteKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t view) {
    return Code(RegDeleteKeyExW(ToHkey(parent), subkey.c_str(), view, 0));
}

uint32_t RegistryDeleteTree(RegistryKeyHandle parent, const std::wstring& subkey) {
    return Code(RegDeleteTreeW(ToHkey(parent), subkey.c_str()));
}

uint32_t RegistryDeleteValue(RegistryKeyHandle key, const std::wstring& name) {
    return Code(RegDeleteValueW(ToHkey(key), name.c_str()));
}

uint32_t RegistryConnect(const std::wstring& machine, RegistryKeyHandle predefined,
                         RegistryKeyHandle* result) {
    HKEY key = nullptr;
    LSTATUS status =
        RegConnectRegistryW(machine.empty() ? nullptr : machine.c_str(), ToHkey(predefined), &key);
    if (status == ERROR_SUCCESS) *result = FromHkey(key);
    return Code(status);
}

uint32_t RegistryFlushKey(RegistryKeyHandle key) {
    return Code(RegFlushKey(ToHkey(key)));
}

uint32_t RegistryCloseKey(RegistryKeyHandle key) {
    return Code(RegCloseKey(ToHkey(key)));
}

}  // namespace kx::platform
