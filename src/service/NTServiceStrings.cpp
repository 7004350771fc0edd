#include "service/NTService.h"

namespace {

// The string table of the command line's messages, by resource ID.
constexpr const wchar_t* kStrings[] = {
    nullptr,
    L"KXWkstnSvc::Install, Failed call to open SCM, Error:%1",
    L"KXWkstnSvc::Install, Failed call to lock SCM, Error:%1",
    L"KXWkstnSvc::Install, Failed call to CreateService, Error:%1",
    L"KXWkstnSvc::Install, Failed call to install service as an event log source, Error:%1",
    L"KXWkstnSvc::Uninstall, Failed call to open SCM, Error:%1",
    L"KXWkstnSvc::Uninstall, Failed call to OpenService, Error:%1",
    L"KXWkstnSvc::Uninstall, Failed call to WaitForStop, Error:%1",
    L"KXWkstnSvc::Uninstall, Failed call to DeleteService, Error:%1",
    L"KXWkstnSvc::Uninstall, Failed call to remove service as an event log source, Error:%1",
    L"Failed to start the service, Error:%1",
    L"Failed to stop the service, Error:%1",
    L"Failed to continue the service, Error:%1",
    L"Failed to pause the service, Error:%1",
    L"Failed to start the service, Error:%1",
    L"%1, %2",
    L"KXWkstnSvc::Uninstall, Failed to stop service, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed call to open SCM, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed call to OpenService, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed to start the service, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed to continue the service, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed to pause the service, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed to stop the service, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed to wait for the service to change state, Error:%1",
    L"KXWkstnSvc::SetServiceToStatus, Failed to check the service status, Error:%1",
};

}  // namespace

std::wstring CNTService::LoadServiceString(uint32_t stringId) {
    if (stringId == 0 || stringId >= std::size(kStrings)) return std::wstring();
    return kStrings[stringId];
}
