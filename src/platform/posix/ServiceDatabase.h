#pragma once
// The Linux service manager's database: one key per service under
// HKEY_LOCAL_MACHINE "SYSTEM\CurrentControlSet\Services", with the values
// that CreateServiceW writes on Windows.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"

namespace kx::platform {

struct ServiceConfig {
    std::wstring name;  // the key's name, as stored
    std::wstring imagePath;
    uint32_t type = 0;
    uint32_t startType = 0;
    bool markedForDelete = false;
};

class CServiceDatabase {
public:
    static constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services";

    // A service's configuration; false (1060) when there is none. The name
    // is matched without regard to case.
    static bool Read(const std::wstring& name, ServiceConfig* config);
    // 1073 when the service exists, 1072 when it is marked for deletion.
    static uint32_t Create(const ServiceCreation& creation);
    // Removes the service's key with everything below it.
    static uint32_t Remove(const std::wstring& name);
    // Marks the service for deletion when it stops ("DeleteFlag", as Windows).
    static uint32_t MarkForDelete(const std::wstring& name);
    static uint32_t SetDescription(const std::wstring& name, const wchar_t* description);
    // The names of every key below the services key that has an image path.
    static std::vector<std::wstring> ServiceNames();
};

}  // namespace kx::platform
