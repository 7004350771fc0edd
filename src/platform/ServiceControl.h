#pragma once
// Service control: the service control manager as a controller uses it
// (OpenSCManagerW, LockServiceDatabase, CreateServiceW, OpenServiceW,
// DeleteService, QueryServiceStatus, ControlService, StartServiceW,
// ChangeServiceConfig2W, CloseServiceHandle), the service process's side
// (StartServiceCtrlDispatcherW, RegisterServiceCtrlHandler[Ex]W,
// SetServiceStatus), the console handler and the message box.
//
// Windows calls the platform. Linux has a small service manager of its own:
// the service database is the machine registry's
// "SYSTEM\CurrentControlSet\Services\<name>" with the values CreateServiceW
// writes; a start launches the image in a session of its own, and the running
// service keeps its status in "<machine root>/Services/<name>.status" and
// takes controls over the local socket "<name>.sock" beside it, which only
// its owner (or root) may use. A service process that ends without reporting
// stopped is seen as stopped with 1067 and its exit status.
//
// Failures leave a Win32 error code in GetLastErrorCode().

#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {

using ServiceHandle = void*;        // SC_HANDLE
using ServiceLockHandle = void*;    // SC_LOCK
using ServiceStatusHandle = void*;  // SERVICE_STATUS_HANDLE

// SERVICE_STATUS.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// States.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceContinuePending = 5;
inline constexpr uint32_t kServicePausePending = 6;
inline constexpr uint32_t kServicePaused = 7;

// Controls.
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlPause = 2;
inline constexpr uint32_t kControlContinue = 3;
inline constexpr uint32_t kControlInterrogate = 4;
inline constexpr uint32_t kControlShutdown = 5;
inline constexpr uint32_t kControlParamChange = 6;

// Accepted controls.
inline constexpr uint32_t kAcceptStop = 0x01;
inline constexpr uint32_t kAcceptPauseContinue = 0x02;
inline constexpr uint32_t kAcceptShutdown = 0x04;
inline constexpr uint32_t kAcceptParamChange = 0x08;
inline constexpr uint32_t kAcceptNetBindChange = 0x10;

// Service types and start types.
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kServiceInteractiveProcess = 0x100;
inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceDisabled = 4;

// Service control manager rights.
inline constexpr uint32_t kManagerConnect = 0x0001;
inline constexpr uint32_t kManagerCreateService = 0x0002;
inline constexpr uint32_t kManagerEnumerateService = 0x0004;
inline constexpr uint32_t kManagerLock = 0x0008;
// Service rights.
inline constexpr uint32_t kServiceQueryConfig = 0x0001;
inline constexpr uint32_t kServiceChangeConfig = 0x0002;
inline constexpr uint32_t kServiceQueryStatus = 0x0004;
inline constexpr uint32_t kServiceStart = 0x0010;
inline constexpr uint32_t kServiceStopRight = 0x0020;
inline constexpr uint32_t kServicePauseContinue = 0x0040;
inline constexpr uint32_t kServiceInterrogate = 0x0080;
inline constexpr uint32_t kServiceUserDefinedControl = 0x0100;
inline constexpr uint32_t kServiceDelete = 0x00010000;

// Console events.
inline constexpr uint32_t kConsoleCtrlC = 0;
inline constexpr uint32_t kConsoleCtrlBreak = 1;
inline constexpr uint32_t kConsoleClose = 2;

// Error codes the service calls answer with.
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorServiceInvalidHandle = 6;
inline constexpr uint32_t kErrorServiceInvalidParameter = 87;
inline constexpr uint32_t kErrorCallNotImplemented = 120;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr uint32_t kErrorServiceDatabaseLocked = 1055;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceDisabled = 1058;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceCannotAcceptControl = 1061;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr uint32_t kErrorServiceSpecificError = 1066;
inline constexpr uint32_t kErrorProcessAborted = 1067;
inline constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr uint32_t kErrorServiceExists = 1073;
inline constexpr uint32_t kErrorServiceNotInExe = 1083;
inline constexpr uint32_t kErrorTimeout = 1460;

// The process's entry points, called by the platform. argv[0] is the
// service name, followed by the start arguments.
using ServiceMainFunction = void (*)(uint32_t argc, wchar_t** argv);
using ServiceHandlerExFunction = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData,
                                              void* context);
using ServiceHandlerFunction = void (*)(uint32_t control);
using ConsoleHandlerFunction = bool (*)(uint32_t consoleEvent);

struct ServiceTableEntry {
    const wchar_t* serviceName;
    ServiceMainFunction serviceMain;
};

// The parameters of CreateServiceW, null where the caller passes none.
struct ServiceCreation {
    const wchar_t* serviceName = nullptr;
    const wchar_t* displayName = nullptr;
    uint32_t desiredAccess = 0;
    uint32_t serviceType = kServiceWin32OwnProcess;
    uint32_t startType = kServiceDemandStart;
    uint32_t errorControl = 0;
    const wchar_t* binaryPathName = nullptr;
    const wchar_t* loadOrderGroup = nullptr;
    uint32_t* tagId = nullptr;
    // A double-NUL-terminated list, or null.
    const wchar_t* dependencies = nullptr;
    const wchar_t* serviceStartName = nullptr;
    const wchar_t* password = nullptr;
};

// SC_ACTION: what the service control manager does after a failure.
inline constexpr uint32_t kActionNone = 0;
inline constexpr uint32_t kActionRestart = 1;
struct ServiceAction {
    uint32_t type = kActionNone;
    uint32_t delay = 0;  // milliseconds
};

// SERVICE_FAILURE_ACTIONS without the reboot message and the command, which
// nothing here sets: the n-th failure within the reset period (seconds) takes
// the n-th action, and every later failure the last one.
struct ServiceFailureActions {
    uint32_t resetPeriod = 0;
    std::vector<ServiceAction> actions;
};

// The service calls as the core makes them. GetServiceControl() is the
// platform's; tests hand a double of their own to CNTService.
class IServiceControl {
public:
    virtual ~IServiceControl() = default;

    // Controller side.
    virtual ServiceHandle OpenManager(const wchar_t* machine, const wchar_t* database,
                                      uint32_t access) = 0;
    virtual ServiceLockHandle LockDatabase(ServiceHandle manager) = 0;
    virtual bool UnlockDatabase(ServiceLockHandle lock) = 0;
    virtual ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                             const ServiceCreation& creation) = 0;
    virtual ServiceHandle OpenServiceEntry(ServiceHandle manager, const wchar_t* name,
                                           uint32_t access) = 0;
    virtual bool DeleteServiceEntry(ServiceHandle service) = 0;
    virtual bool CloseServiceHandle(ServiceHandle handle) = 0;
    virtual bool QueryStatus(ServiceHandle service, ServiceStatus* status) = 0;
    virtual bool SendControl(ServiceHandle service, uint32_t control, ServiceStatus* status) = 0;
    virtual bool StartServiceProcess(ServiceHandle service, uint32_t argc,
                                     const wchar_t** argv) = 0;
    // ChangeServiceConfig2W, looked up at run time: false when the system
    // lacks it, and then ChangeDescription fails with 120.
    virtual bool HasChangeServiceConfig2() = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_DESCRIPTION (1).
    virtual bool ChangeDescription(ServiceHandle service, const wchar_t* description) = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_FAILURE_ACTIONS (2); a restart
    // action needs the handle's start right as well.
    virtual bool ChangeFailureActions(ServiceHandle service,
                                      const ServiceFailureActions& failureActions) = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_FAILURE_ACTIONS_FLAG (4): whether
    // a service that reports stopped with an error counts as failed too.
    virtual bool ChangeFailureActionsFlag(ServiceHandle service, bool onNonCrashFailures) = 0;
    // QueryServiceConfig2W of both (the query-configuration right).
    virtual bool QueryFailureActions(ServiceHandle service, ServiceFailureActions* failureActions,
                                     bool* onNonCrashFailures) = 0;

    // Service process side.
    virtual bool RunDispatcher(const ServiceTableEntry* table) = 0;
    // RegisterServiceCtrlHandlerExW, looked up at run time.
    virtual bool HasRegisterServiceCtrlHandlerEx() = 0;
    virtual ServiceStatusHandle RegisterHandlerEx(const wchar_t* serviceName,
                                                  ServiceHandlerExFunction handler,
                                                  void* context) = 0;
    virtual ServiceStatusHandle RegisterHandler(const wchar_t* serviceName,
                                                ServiceHandlerFunction handler) = 0;
    virtual bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;

    // SetConsoleCtrlHandler. Linux: SIGINT is Ctrl+C, SIGQUIT Ctrl+Break, and
    // SIGHUP (the terminal closed) and SIGTERM the close event. A handler that
    // answers false lets the process end as it would without one.
    virtual bool SetConsoleHandler(ConsoleHandlerFunction handler, bool add) = 0;
    // MessageBoxW with an OK button; Linux, which has no desktop for a
    // service, writes the text to standard output.
    virtual void ShowMessageBox(const std::wstring& text, const std::wstring& caption) = 0;
};

IServiceControl& GetServiceControl();

}  // namespace kx::platform
