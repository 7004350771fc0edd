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
    // "FailureActions" (REG_BINARY, SERVICE_FAILURE_ACTIONS as Windows keeps
    // it) and "FailureActionsOnNonCrashFailures" (REG_DWORD).
    ServiceFailureActions failureActions;
    bool failureActionsOnNonCrashFailures = false;
};

// The image to run and its arguments: a quoted path ends at its closing
// quote and blanks separate what follows it; an unquoted one is the whole
// text, never searched part by part for a program.
struct ServiceCommandLine {
    std::wstring image;
    std::vector<std::wstring> arguments;
};
ServiceCommandLine SplitImagePath(const std::wstring& imagePath);

// The bytes of "FailureActions": the reset period, the reboot message and
// the command (stored elsewhere, 0 here), the number of actions and the
// offset of their array (20), then each action's type and delay; all 32-bit.
std::string EncodeFailureActions(const ServiceFailureActions& failureActions);
bool DecodeFailureActions(const std::string& bytes, ServiceFailureActions* failureActions);

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
    static uint32_t SetFailureActions(const std::wstring& name,
                                      const ServiceFailureActions& failureActions);
    static uint32_t SetFailureActionsFlag(const std::wstring& name, bool onNonCrashFailures);
    // The names of every key below the services key that has an image path.
    static std::vector<std::wstring> ServiceNames();
};

}  // namespace kx::platform
