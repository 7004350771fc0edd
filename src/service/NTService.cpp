#include "service/NTService.h"

#include <atomic>
#include <new>

#include "common/Format.h"
#include "common/MessageText.h"
#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/Com.h"
#include "platform/SystemMessage.h"
#include "service/NTServiceTerminateException.h"

#include <cstdio>

namespace {

namespace platform = kx::platform;

constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kHresultFail = 0x80004005;

std::atomic<CNTService*> g_service{nullptr};

void ServiceMainEntry(uint32_t argc, wchar_t** argv) {
    if (CNTService* service = g_service.load()) service->ServiceMain(argc, argv);
}

uint32_t HandlerExEntry(uint32_t control, uint32_t eventType, void* eventData, void*) {
    CNTService* service = g_service.load();
    return service ? service->HandleControl(control, eventType, eventData) : 0;
}

void HandlerEntry(uint32_t control) {
    if (CNTService* service = g_service.load()) service->HandleControl(control, 0, nullptr);
}

bool ConsoleEntry(uint32_t consoleEvent) {
    CNTService* service = g_service.load();
    return service && service->OnConsoleControl(consoleEvent);
}

bool IsPendingState(uint32_t state) {
    return state == platform::kServiceStartPending || state == platform::kServiceStopPending ||
           state == platform::kServiceContinuePending || state == platform::kServicePausePending;
}

// The exit codes of an exception other than the framework's own that ended
// the service's work: the service still ends as stopped, and says why.
CNTServiceTerminateException ExitCodesOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const CNTServiceTerminateException& terminate) {
        return terminate;
    } catch (const std::bad_alloc&) {
        return CNTServiceTerminateException(kErrorNotEnoughMemory, 0);
    } catch (...) {
        return CNTServiceTerminateException(platform::kErrorServiceSpecificError, kHresultFail);
    }
}

}  // namespace

CNTService::CNTService(const std::wstring& serviceName, const std::wstring& displayName,
                       uint32_t controlsAccepted, const std::wstring& description)
    : CNTService(serviceName, displayName, controlsAccepted, description,
                 platform::GetServiceControl(), platform::GetEventLog()) {}

CNTService::CNTService(const std::wstring& serviceName, const std::wstring& displayName,
                       uint32_t controlsAccepted, const std::wstring& description,
                       platform::IServiceControl& serviceControl, platform::IEventLog& eventLog)
    : controlsAccepted_(controlsAccepted),
      serviceName_(serviceName),
      displayName_(displayName),
      description_(description),
      eventReporter_(L"", displayName, eventLog),
      serviceControl_(serviceControl) {
    hasRegisterHandlerEx_ = serviceControl_.HasRegisterServiceCtrlHandlerEx();
    g_service.store(this);
}

CNTService::~CNTService() {
    CNTService* self = this;
    g_service.compare_exchange_strong(self, nullptr);
}

CNTService* CNTService::Instance() {
    return g_service.load();
}

void CNTService::SetProcessArguments(std::vector<std::wstring> arguments) {
    processArguments_ = std::move(arguments);
}

uint32_t CNTService::CurrentState() const {
    std::lock_guard<std::mutex> lock(statusLock_);
    return currentState_;
}

bool CNTService::ReportStatus(uint32_t state, uint32_t checkPoint, uint32_t waitHint,
                              uint32_t controlsAccepted) {
    return SetStatus(state, checkPoint, waitHint, controlsAccepted, 0, 0);
}

bool CNTService::ReportCurrentStatus() {
    return ReportStatus(CurrentState(), kUnchanged, kUnchanged, kUnchanged);
}

bool CNTService::SetStatus(uint32_t state, uint32_t checkPoint, uint32_t waitHint,
                           uint32_t controlsAccepted, uint32_t win32ExitCode,
                           uint32_t serviceExitCode) {
    platform::ServiceStatus status;
    platform::ServiceStatusHandle handle;
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        currentState_ = state;
        if (state == platform::kServiceStopped) {
            checkPoint_ = 0;
            waitHint = 0;
        } else if (state == platform::kServiceRunning || state == platform::kServicePaused) {
            checkPoint_ = 0;
            waitHint = 0;
            win32ExitCode = 0;
            serviceExitCode = 0;
        } else {
            if (checkPoint != kUnchanged) checkPoint_ = checkPoint;
            win32ExitCode = 0;
            serviceExitCode = 0;
        }
        if (waitHint != kUnchanged) waitHint_ = waitHint;
        if (controlsAccepted != kUnchanged) controlsAccepted_ = controlsAccepted;
        status.serviceType = platform::kServiceWin32OwnProcess;
        status.currentState = state;
        status.controlsAccepted = IsPendingState(state) ? 0 : controlsAccepted_;
        status.win32ExitCode = win32ExitCode;
        status.serviceSpecificExitCode = serviceExitCode;
        status.checkPoint = checkPoint_;
        status.waitHint = waitHint_;
        handle = statusHandle_;
    }
    if (!handle) return false;
    return serviceControl_.ReportServiceStatus(handle, status);
}

bool CNTService::RegisterControlHandler() {
    std::lock_guard<std::mutex> lock(statusLock_);
    if (hasRegisterHandlerEx_) {
        statusHandle_ =
            serviceControl_.RegisterHandlerEx(serviceName_.c_str(), HandlerExEntry, nullptr);
    } else {
        statusHandle_ = serviceControl_.RegisterHandler(serviceName_.c_str(), HandlerEntry);
    }
    return statusHandle_ != nullptr;
}

uint32_t CNTService::HandleControl(uint32_t control, uint32_t eventType, void* eventData) {
    uint32_t result = 0;
    switch (control) {
        case 1:
            OnStop();
            break;
        case 2:
            OnPause();
            break;
        case 3:
            OnContinue();
            break;
        case 4:
            OnInterrogate();
            break;
        case 5:
            OnShutdown();
            break;
        case 6:
            OnParamChange();
            break;
        case 7:
            OnNetBindAdd();
            break;
        case 8:
            OnNetBindRemove();
            break;
        case 9:
            OnNetBindEnable();
            break;
        case 10:
            OnNetBindDisable();
            break;
        case 11:
            result = OnDeviceEvent(eventType, eventData);
            break;
        case 12:
            result = OnHardwareProfileChange(eventType, eventData);
            break;
        case 13:
            result = OnPowerEvent(eventType, eventData);
            break;
        default:
            OnUserControl(control);
            break;
    }
    ReportCurrentStatus();
    return result;
}

void CNTService::ReportNamedEvent(uint32_t eventId) {
    if (eventLogging_) eventReporter_.ReportString(kEventInformation, eventId, displayName_);
}

void CNTService::OnStop() {
    ReportNamedEvent(0x40000004);
}

void CNTService::OnPause() {
    ReportNamedEvent(0x40000005);
}

void CNTService::OnContinue() {
    ReportNamedEvent(0x40000006);
}

void CNTService::OnInterrogate() {
    ReportCurrentStatus();
}

void CNTService::OnShutdown() {
    ReportNamedEvent(0x4000000A);
}

void CNTService::OnParamChange() {}

uint32_t CNTService::OnHardwareProfileChange(uint32_t, void*) {
    return 0;
}

uint32_t CNTService::OnPowerEvent(uint32_t, void*) {
    return 0;
}

void CNTService::OnNetBindAdd() {}
void CNTService::OnNetBindRemove() {}
void CNTService::OnNetBindEnable() {}
void CNTService::OnNetBindDisable() {}

uint32_t CNTService::OnDeviceEvent(uint32_t, void*) {
    return 0;
}

void CNTService::OnUserControl(uint32_t) {}

bool CNTService::RunDispatcher() {
    const platform::ServiceTableEntry table[] = {{serviceName_.c_str(), ServiceMainEntry},
                                                 {nullptr, nullptr}};
    return serviceControl_.RunDispatcher(table);
}

// Run builds the agent on this thread, and with it the directory path objects
// of the definitions: COM must be there. The thread pumps no messages, so it
// joins the multithreaded apartment.
void CNTService::ServiceMain(uint32_t argc, wchar_t** argv) {
    RegisterControlHandler();
    uint32_t win32ExitCode = 0;
    uint32_t serviceExitCode = 0;
    const bool com = platform::ComInitializeMultithreaded();
    try {
        Run(argc, argv);
    } catch (...) {
        CNTServiceTerminateException codes = ExitCodesOf(std::current_exception());
        win32ExitCode = codes.Win32ExitCode();
        serviceExitCode = codes.ServiceExitCode();
    }
    if (com) platform::ComUninitialize();
    SetStatus(platform::kServiceStopped, 0, 0, 0, win32ExitCode, serviceExitCode);
}

void CNTService::DebugRun() {
    std::vector<std::wstring> arguments;
    for (const std::wstring& argument : processArguments_) {
        if (!kx::EqualsNoCase(argument, L"-debug")) arguments.push_back(argument);
    }
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    serviceControl_.SetConsoleHandler(ConsoleEntry, true);
    std::exception_ptr failure;
    const bool com = platform::ComInitializeMultithreaded();  // as in ServiceMain
    try {
        Run(static_cast<uint32_t>(arguments.size()), argv.data());
    } catch (...) {
        failure = std::current_exception();
    }
    if (com) platform::ComUninitialize();
    serviceControl_.SetConsoleHandler(ConsoleEntry, false);
    if (failure) throw ExitCodesOf(failure);
}

bool CNTService::OnConsoleControl(uint32_t consoleEvent) {
    if (consoleEvent > platform::kConsoleClose) return false;
    OnStop();
    return true;
}

void CNTService::ShowHelp() {}

std::vector<wchar_t> CNTService::BuildDependencies() {
    std::vector<wchar_t> list;
    for (const std::wstring& dependency : dependencies_) {
        list.insert(list.end(), dependency.begin(), dependency.end());
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    if (dependencies_.empty()) list.push_back(L'\0');
    return list;
}

std::wstring CNTService::GetEventSourceName(const std::wstring& displayName) {
    return displayName;
}

void CNTService::FormatErrorMessage(std::wstring& result, uint32_t stringId, uint32_t errorCode,
                                    bool forEvent) {
    const std::wstring inserts[] = {kx::Format(L"%d", errorCode),
                                    platform::GetSystemErrorText(errorCode)};
    std::wstring detail;
    if (kx::FormatMessageText(LoadServiceString(15), kx::InsertHandling::Replace, inserts,
                              detail) != 0) {
        detail = inserts[0] + L", " + inserts[1];
    }
    const uint32_t mode = forEvent ? eventMessageMode_ : messageMode_;
    if (mode == 1) {
        result = detail;
        return;
    }
    const std::wstring message[] = {detail};
    if (kx::FormatMessageText(LoadServiceString(stringId), kx::InsertHandling::Replace, message,
                              result) != 0) {
        result = detail;
    }
}

void CNTService::DisplayMessage(const std::wstring& message) {
    if (consoleOutput_) {
        std::fputs((platform::WideToAnsi(message) + "\n").c_str(), stdout);
        std::fflush(stdout);
    } else {
        serviceControl_.ShowMessageBox(message, displayName_);
    }
}
