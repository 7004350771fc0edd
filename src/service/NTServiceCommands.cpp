// The command line of CNTService: parsing, the commands, installation,
// removal, state changes and the event-log source.

#include <algorithm>

#include "common/Clock.h"
#include "common/RegFile.h"
#include "common/Text.h"
#include "platform/Process.h"
#include "service/NTService.h"
#include "service/NTServiceTerminateException.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kDatabase = L"ServicesActive";
constexpr const wchar_t* kApplicationKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr uint32_t kPollInterval = 250;

// One row of SetServiceToStatus's table.
struct StatusOperation {
    uint32_t access;
    uint32_t awaitedState;
    uint32_t control;  // 0: a start
    uint32_t failureEvent;
};

constexpr StatusOperation kOperations[] = {
    {0x000F0004 | 0x10, platform::kServiceRunning, 0, 0xC000000B},
    {0x000F0004 | 0x40, platform::kServicePaused, platform::kControlPause, 0xC000000E},
    {0x000F0004 | 0x40, platform::kServiceRunning, platform::kControlContinue, 0xC000000D},
    {0x000F0004 | 0x20, platform::kServiceStopped, platform::kControlStop, 0xC000000C},
};

// The user message of each state command's failure.
constexpr uint32_t kCommandMessages[] = {10, 13, 12, 11};

// The executable's path with its extension replaced by "DLL".
std::wstring WithDllExtension(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    const std::size_t dot = path.rfind(L'.');
    const bool hasExtension =
        dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator);
    return (hasExtension ? path.substr(0, dot) : path) + L".DLL";
}

// Closes a registry key at the end of a scope.
class CScopedKey {
public:
    CScopedKey() = default;
    ~CScopedKey() {
        if (key_) platform::RegistryCloseKey(key_);
    }
    CScopedKey(const CScopedKey&) = delete;
    CScopedKey& operator=(const CScopedKey&) = delete;
    platform::RegistryKeyHandle* Out() { return &key_; }
    platform::RegistryKeyHandle Get() const { return key_; }

private:
    platform::RegistryKeyHandle key_ = 0;
};

// "Sources" of the Application key. A missing value is an empty list (a
// Linux machine starts without one); any other failure leaves it unread.
bool ReadSources(platform::RegistryKeyHandle key, std::vector<std::wstring>* sources) {
    uint32_t type = 0;
    uint32_t size = 0;
    uint32_t error = platform::RegistryQueryValue(key, L"Sources", &type, nullptr, &size);
    if (error == platform::kRegistryFileNotFound) return true;
    if (error != 0 || type != platform::kRegMultiSz) return false;
    std::string bytes(size, '\0');
    if (platform::RegistryQueryValue(key, L"Sources", &type, bytes.data(), &size) != 0) {
        return false;
    }
    std::wstring text = kx::Utf16LEToWide(bytes.data(), size);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos) end = text.size();
        if (end == start) break;
        sources->push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool WriteSources(platform::RegistryKeyHandle key, const std::vector<std::wstring>& sources) {
    std::string data = kx::RegMultiStringData(sources);
    return platform::RegistrySetValue(key, L"Sources", platform::kRegMultiSz, data.data(),
                                      static_cast<uint32_t>(data.size())) == 0;
}

bool Failed(uint32_t error) {
    platform::SetLastErrorCode(error);
    return false;
}

}  // namespace

// The handles a command opens, closed on every path: the service, then the
// database lock, then the service control manager.
struct CNTService::Handles {
    explicit Handles(platform::IServiceControl& control) : control(control) {}
    ~Handles() {
        if (service) control.CloseServiceHandle(service);
        if (lock) control.UnlockDatabase(lock);
        if (manager) control.CloseServiceHandle(manager);
    }
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;

    platform::IServiceControl& control;
    platform::ServiceHandle manager = nullptr;
    platform::ServiceLockHandle lock = nullptr;
    platform::ServiceHandle service = nullptr;
};

void CNTService::ParseCommandLine(CNTServiceCommandLineInfo& info) {
    for (std::size_t i = 1; i < processArguments_.size(); ++i) {
        std::wstring argument = processArguments_[i];
        const bool flag = !argument.empty() && (argument[0] == L'-' || argument[0] == L'/');
        if (flag) argument.erase(0, 1);
        info.ParseParam(argument, flag, i + 1 == processArguments_.size());
    }
}

int CNTService::ProcessCommand(CNTServiceCommandLineInfo& info) {
    uint32_t error = 0;
    std::wstring message;
    bool failed = false;
    switch (info.command) {
        case CNTServiceCommandLineInfo::kRunAsService:
            if (!RunDispatcher()) error = platform::GetLastErrorCode();
            break;
        case CNTServiceCommandLineInfo::kStartService:
        case CNTServiceCommandLineInfo::kPauseService:
        case CNTServiceCommandLineInfo::kContinueService:
        case CNTServiceCommandLineInfo::kStopService: {
            const uint32_t operation = info.command - 1;
            if (!SetServiceToStatus(operation, info.timeout)) {
                error = platform::GetLastErrorCode();
                FormatErrorMessage(message, kCommandMessages[operation], error, false);
                failed = true;
            }
            break;
        }
        case CNTServiceCommandLineInfo::kInstallService:
            failed = !Install(message, error);
            break;
        case CNTServiceCommandLineInfo::kUninstallService:
            failed = !Uninstall(message, error, info.timeout);
            break;
        case CNTServiceCommandLineInfo::kDebugService:
            try {
                DebugRun();
            } catch (const CNTServiceTerminateException& terminate) {
                error = terminate.Win32ExitCode();
            }
            break;
        case CNTServiceCommandLineInfo::kShowServiceHelp:
            ShowHelp();
            break;
        default:
            break;
    }
    if (failed && !info.silent) DisplayMessage(message);
    return static_cast<int>(error);
}

bool CNTService::Install(std::wstring& message, uint32_t& error) {
    error = 0;
    Handles handles(serviceControl_);
    return InstallSteps(handles, message, error);
}

bool CNTService::InstallSteps(Handles& handles, std::wstring& message, uint32_t& error) {
    auto fail = [&](uint32_t stringId) {
        error = platform::GetLastErrorCode();
        FormatErrorMessage(message, stringId, error, false);
        return false;
    };
    const std::wstring path = platform::GetExecutablePath();
    // Quoted: an unquoted "C:\Program Files\..." is searched blank by blank,
    // so "C:\Program.exe" would run as the service's account.
    const std::wstring commandLine = L"\"" + path + L"\"";
    handles.manager = serviceControl_.OpenManager(nullptr, kDatabase, 0x0000000A);
    if (!handles.manager) return fail(1);
    handles.lock = serviceControl_.LockDatabase(handles.manager);
    if (!handles.lock) return fail(2);
    const std::vector<wchar_t> dependencies = BuildDependencies();
    platform::ServiceCreation creation;
    creation.serviceName = serviceName_.c_str();
    creation.displayName = displayName_.c_str();
    // A restart among the failure actions needs the start right as well.
    creation.desiredAccess = failureActions_.actions.empty() ? 0x00000002 : 0x00000012;
    creation.serviceType = serviceType_;
    creation.startType = startType_;
    creation.errorControl = errorControl_;
    creation.binaryPathName = commandLine.c_str();
    creation.loadOrderGroup = loadOrderGroup_.empty() ? nullptr : loadOrderGroup_.c_str();
    creation.dependencies = dependencies.data();
    creation.serviceStartName = accountName_.empty() ? nullptr : accountName_.c_str();
    creation.password = password_.empty() ? nullptr : password_.c_str();
    handles.service = serviceControl_.CreateServiceEntry(handles.manager, creation);
    if (!handles.service) return fail(3);
    if (eventLogging_) {
        if (eventMessageFile_.empty()) eventMessageFile_ = WithDllExtension(path);
        if (!RegisterEventSource(displayName_, eventMessageFile_, 7)) return fail(4);
    }
    if (!description_.empty()) {
        serviceControl_.ChangeDescription(handles.service, description_.c_str());
    }
    // Ignored like the description: the service is installed without them
    // on a system that lacks them.
    if (!failureActions_.actions.empty()) {
        serviceControl_.ChangeFailureActions(handles.service, failureActions_);
        serviceControl_.ChangeFailureActionsFlag(handles.service,
                                                 failureActionsOnNonCrashFailures_);
    }
    if (eventLogging_) eventReporter_.ReportString(kEventInformation, 0x40000002, displayName_);
    return true;
}

bool CNTService::Uninstall(std::wstring& message, uint32_t& error, uint32_t timeout) {
    error = 0;
    Handles handles(serviceControl_);
    return UninstallSteps(handles, message, error, timeout);
}

bool CNTService::UninstallSteps(Handles& handles, std::wstring& message, uint32_t& error,
                                uint32_t timeout) {
    auto fail = [&](uint32_t stringId, uint32_t eventId) {
        error = platform::GetLastErrorCode();
        FormatErrorMessage(message, stringId, error, false);
        if (eventId && eventLogging_) {
            std::wstring detail;
            FormatErrorMessage(detail, stringId, error, true);
            eventReporter_.ReportString(kEventError, eventId, detail);
        }
        return false;
    };
    handles.manager = serviceControl_.OpenManager(nullptr, kDatabase, 0x00000009);
    if (!handles.manager) return fail(5, 0xC0000007);
    handles.service =
        serviceControl_.OpenServiceEntry(handles.manager, serviceName_.c_str(), 0x00010024);
    if (!handles.service) return fail(6, 0xC0000008);
    platform::ServiceStatus status;
    if (serviceControl_.QueryStatus(handles.service, &status) &&
        status.currentState != platform::kServiceStopped) {
        if (!serviceControl_.SendControl(handles.service, platform::kControlStop, &status)) {
            error = platform::GetLastErrorCode();
            FormatErrorMessage(message, 16, error, false);
        }
        if (!WaitForState(handles.service, timeout, platform::kServiceStopped, kPollInterval)) {
            return fail(7, 0);
        }
    }
    if (!serviceControl_.DeleteServiceEntry(handles.service)) return fail(8, 0xC0000009);
    if (eventLogging_) {
        eventReporter_.ReportString(kEventInformation, 0x40000003, displayName_);
        if (!RemoveEventSource(displayName_)) return fail(9, 0);
    }
    return true;
}

bool CNTService::SetServiceToStatus(uint32_t operation, uint32_t timeout) {
    if (operation >= std::size(kOperations)) return Failed(platform::kErrorServiceInvalidParameter);
    const StatusOperation& row = kOperations[operation];
    uint32_t error = 0;
    uint32_t failedEvent = 0;
    {
        Handles handles(serviceControl_);
        auto fail = [&](uint32_t eventId) {
            error = platform::GetLastErrorCode();
            failedEvent = eventId;
        };
        platform::ServiceStatus status;
        handles.manager = serviceControl_.OpenManager(nullptr, kDatabase, 0x00000009);
        if (!handles.manager) {
            fail(0xC0000007);
        } else if (!(handles.service = serviceControl_.OpenServiceEntry(
                         handles.manager, serviceName_.c_str(), row.access))) {
            fail(0xC0000008);
        } else if (!serviceControl_.QueryStatus(handles.service, &status)) {
            fail(0xC0000010);
        } else if (status.currentState != row.awaitedState &&
                   !SendStatusRequest(handles.service, operation)) {
            fail(row.failureEvent);
        } else if (!WaitForState(handles.service, timeout, row.awaitedState, kPollInterval)) {
            fail(0xC000000F);
        }
    }
    if (!failedEvent) return true;
    uint32_t awaited = row.awaitedState;
    ReportSetStatusFailure(failedEvent, error, &awaited);
    // The caller turns the failing step's code into the exit code: the
    // reports and closes above must not replace it.
    return Failed(error);
}

bool CNTService::SendStatusRequest(platform::ServiceHandle service, uint32_t operation) {
    const StatusOperation& row = kOperations[operation];
    if (row.control == 0) return serviceControl_.StartServiceProcess(service, 0, nullptr);
    platform::ServiceStatus status;
    return serviceControl_.SendControl(service, row.control, &status);
}

bool CNTService::ReportSetStatusFailure(uint32_t eventId, uint32_t error, uint32_t* awaitedState) {
    if (eventId == 0xC000000C) {
        return eventReporter_.ReportNumber(kEventError, eventId, static_cast<int32_t>(error));
    }
    std::wstring detail;
    FormatErrorMessage(detail, 0, error, true);
    if (eventId == 0xC000000F) {
        return eventReporter_.ReportStringAndNumber(kEventError, eventId, detail,
                                                    static_cast<int32_t>(*awaitedState));
    }
    return eventReporter_.ReportString(kEventError, eventId, detail);
}

bool CNTService::WaitForState(platform::ServiceHandle service, uint32_t timeout,
                              uint32_t awaitedState, uint32_t interval) {
    IClock& clock = GetClock();
    const uint32_t start = clock.GetTickCount();
    for (;;) {
        platform::ServiceStatus status;
        if (!serviceControl_.QueryStatus(service, &status)) return false;
        if (status.currentState == awaitedState) return true;
        clock.Sleep(interval);
        if (timeout != kInfinite && TicksSince(clock.GetTickCount(), start) > timeout) {
            return Failed(kx::platform::kErrorTimeout);
        }
    }
}

bool CNTService::RegisterEventSource(const std::wstring& source, const std::wstring& messageFile,
                                     uint32_t typesSupported) {
    CScopedKey application;
    // Windows always has the Application key; a new Linux machine gets it here.
    uint32_t error = platform::RegistryCreateKey(
        platform::kHkeyLocalMachine, kApplicationKey,
        platform::kKeyRead | platform::kKeyCreateSubKey | platform::kKeySetValue,
        application.Out());
    if (error) return Failed(error);
    bool result = false;
    {
        CScopedKey sourceKey;
        error = platform::RegistryCreateKey(application.Get(), source, platform::kKeyAllAccess,
                                            sourceKey.Out());
        if (!error) {
            std::string path = kx::RegStringData(messageFile);
            std::string types = kx::RegDwordData(typesSupported);
            error =
                platform::RegistrySetValue(sourceKey.Get(), L"EventMessageFile", platform::kRegSz,
                                           path.data(), static_cast<uint32_t>(path.size()));
            if (!error) {
                error = platform::RegistrySetValue(sourceKey.Get(), L"TypesSupported",
                                                   platform::kRegDword, types.data(), 4);
            }
            result = error == 0;
        }
    }
    std::vector<std::wstring> sources;
    if (ReadSources(application.Get(), &sources) &&
        std::find(sources.begin(), sources.end(), source) == sources.end()) {
        sources.push_back(source);
        WriteSources(application.Get(), sources);
    }
    return result ? true : Failed(error);
}

bool CNTService::RemoveEventSource(const std::wstring& source) {
    CScopedKey application;
    uint32_t error =
        platform::RegistryOpenKey(platform::kHkeyLocalMachine, kApplicationKey,
                                  platform::kKeyRead | platform::kKeySetValue, application.Out());
    if (error) return Failed(error);
    error = platform::RegistryDeleteKey(application.Get(), source, 0);
    std::vector<std::wstring> sources;
    if (ReadSources(application.Get(), &sources)) {
        auto found = std::find(sources.begin(), sources.end(), source);
        if (found != sources.end()) {
            sources.erase(found);
            WriteSources(application.Get(), sources);
        }
    }
    return error == 0 ? true : Failed(error);
}
