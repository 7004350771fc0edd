#pragma once
// The service framework: turns the process into a service through the
// service dispatcher, maps every control code to a virtual operation,
// reports the service status and service events, carries out the command
// line (install, uninstall, start, stop, pause, continue, console mode) and
// keeps parameters in the registry. One process hosts one service object; the
// static entry points the platform calls forward to it.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/EventLog.h"
#include "platform/Registry.h"
#include "platform/ServiceControl.h"
#include "service/NTServiceCommandLineInfo.h"
#include "service/ServiceEventReporter.h"

class CNTService {
public:
    // Event types of the reports.
    static constexpr uint16_t kEventError = 1;
    static constexpr uint16_t kEventInformation = 4;
    // "Not yet known": leaves the stored check point, wait hint or accepted
    // controls as they are.
    static constexpr uint32_t kUnchanged = 0xFFFFFFFF;
    static constexpr uint32_t kInfinite = 0xFFFFFFFF;

    CNTService(const std::wstring& serviceName, const std::wstring& displayName,
               uint32_t controlsAccepted, const std::wstring& description);
    // With the platform doubles of a test.
    CNTService(const std::wstring& serviceName, const std::wstring& displayName,
               uint32_t controlsAccepted, const std::wstring& description,
               kx::platform::IServiceControl& serviceControl, kx::platform::IEventLog& eventLog);
    virtual ~CNTService();
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // The process's service object, or null.
    static CNTService* Instance();

    // The process's arguments, the program path first.
    void SetProcessArguments(std::vector<std::wstring> arguments);

    // Parameters under HKLM "SYSTEM\CurrentControlSet\Services\<name>\Parameters\<section>".
    virtual bool WriteParameterString(const std::wstring& section, const std::wstring* entry,
                                      const std::wstring* value);
    virtual bool WriteParameterInt(const std::wstring& section, const std::wstring& entry,
                                   uint32_t value);
    virtual bool WriteParameterStringArray(const std::wstring& section, const std::wstring& entry,
                                           const std::vector<std::wstring>& values);
    virtual bool WriteParameterBinary(const std::wstring& section, const std::wstring& entry,
                                      const void* data, uint32_t size);
    virtual std::wstring GetParameterString(const std::wstring& section, const std::wstring& entry,
                                            const std::wstring& defaultValue, uint32_t* error);
    virtual uint32_t GetParameterInt(const std::wstring& section, const std::wstring& entry,
                                     uint32_t defaultValue, uint32_t* error);
    virtual bool GetParameterStringArray(const std::wstring& section, const std::wstring& entry,
                                         std::vector<std::wstring>* values);
    virtual bool GetParameterBinary(const std::wstring& section, const std::wstring& entry,
                                    std::vector<uint8_t>* data);

    // The command line (NTServiceCommands.cpp).
    virtual void ParseCommandLine(CNTServiceCommandLineInfo& info);
    virtual int ProcessCommand(CNTServiceCommandLineInfo& info);

    virtual bool ReportStatus(uint32_t state, uint32_t checkPoint = kUnchanged,
                              uint32_t waitHint = kUnchanged,
                              uint32_t controlsAccepted = kUnchanged);
    virtual bool ReportCurrentStatus();
    virtual bool RegisterControlHandler();
    virtual uint32_t HandleControl(uint32_t control, uint32_t eventType, void* eventData);

    virtual void Run(uint32_t argc, wchar_t** argv) = 0;
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnInterrogate();
    virtual void OnShutdown();
    virtual void OnParamChange();
    virtual uint32_t OnHardwareProfileChange(uint32_t eventType, void* eventData);
    virtual uint32_t OnPowerEvent(uint32_t eventType, void* eventData);
    virtual void OnNetBindAdd();
    virtual void OnNetBindRemove();
    virtual void OnNetBindEnable();
    virtual void OnNetBindDisable();
    virtual uint32_t OnDeviceEvent(uint32_t eventType, void* eventData);
    virtual void OnUserControl(uint32_t control);

    virtual bool RunDispatcher();
    // operation: 0 start, 1 pause, 2 continue, 3 stop.
    virtual bool SetServiceToStatus(uint32_t operation, uint32_t timeout);
    virtual bool Install(std::wstring& message, uint32_t& error);
    virtual bool Uninstall(std::wstring& message, uint32_t& error, uint32_t timeout);
    virtual void DebugRun();
    virtual void ShowHelp();
    virtual void ServiceMain(uint32_t argc, wchar_t** argv);
    // The user message (string stringId with the detail) or, for an event,
    // the detail alone: "<code>, <system text>".
    virtual void FormatErrorMessage(std::wstring& result, uint32_t stringId, uint32_t errorCode,
                                    bool forEvent);
    virtual kx::platform::RegistryKeyHandle OpenParameterSection(const std::wstring& section,
                                                                 bool readOnly);
    virtual kx::platform::RegistryKeyHandle OpenParametersKey(bool readOnly);
    virtual bool SetStatus(uint32_t state, uint32_t checkPoint, uint32_t waitHint,
                           uint32_t controlsAccepted, uint32_t win32ExitCode,
                           uint32_t serviceExitCode);
    // Every dependency with its NUL, then one more NUL; two NULs when empty.
    virtual std::vector<wchar_t> BuildDependencies();
    virtual std::wstring GetEventSourceName(const std::wstring& displayName);
    virtual bool OnConsoleControl(uint32_t consoleEvent);

    // The event-log source of the Application log: "EventMessageFile",
    // "TypesSupported" and the "Sources" list.
    static bool RegisterEventSource(const std::wstring& source, const std::wstring& messageFile,
                                    uint32_t typesSupported);
    static bool RemoveEventSource(const std::wstring& source);
    // Polls the service's state every interval until it is the awaited one;
    // false (the last error 1460) once more than timeout milliseconds passed.
    bool WaitForState(kx::platform::ServiceHandle service, uint32_t timeout, uint32_t awaitedState,
                      uint32_t interval);

    // Read access for tests and the service class.
    uint32_t CurrentState() const;
    const std::wstring& ServiceName() const { return serviceName_; }
    const std::wstring& DisplayName() const { return displayName_; }

protected:
    // A command's message: standard output ("%s\n") with console output set,
    // else a message box.
    virtual void DisplayMessage(const std::wstring& message);
    // The string resources of the command line's messages.
    static std::wstring LoadServiceString(uint32_t stringId);

    uint32_t serviceType_ = kx::platform::kServiceWin32OwnProcess;
    uint32_t startType_ = kx::platform::kServiceDemandStart;
    uint32_t errorControl_ = 0;
    std::wstring loadOrderGroup_;
    std::wstring accountName_;
    std::wstring password_;
    std::wstring eventMessageFile_;
    uint32_t messageMode_ = 4;
    uint32_t eventMessageMode_ = 1;
    std::vector<std::wstring> dependencies_;
    uint32_t eventLogging_ = 1;
    uint32_t consoleOutput_ = 1;
    kx::platform::ServiceStatusHandle statusHandle_ = nullptr;
    uint32_t controlsAccepted_;
    uint32_t checkPoint_ = 0;
    uint32_t waitHint_ = 0;
    uint32_t currentState_ = kx::platform::kServiceStopped;
    std::wstring serviceName_;
    std::wstring displayName_;
    std::wstring description_;
    CServiceEventReporter eventReporter_;
    mutable std::mutex statusLock_;
    uint32_t flushParameters_ = 1;
    // What the service control manager does when the service fails, set at
    // install when there is any action.
    kx::platform::ServiceFailureActions failureActions_;
    bool failureActionsOnNonCrashFailures_ = false;

    kx::platform::IServiceControl& serviceControl_;
    std::vector<std::wstring> processArguments_;
    bool hasRegisterHandlerEx_ = false;

private:
    struct Handles;
    bool WriteParameterValue(const std::wstring& section, const std::wstring& entry, uint32_t type,
                             const void* data, uint32_t size);
    bool ReportSetStatusFailure(uint32_t eventId, uint32_t error, uint32_t* awaitedState);
    bool SendStatusRequest(kx::platform::ServiceHandle service, uint32_t operation);
    bool UninstallSteps(Handles& handles, std::wstring& message, uint32_t& error, uint32_t timeout);
    bool InstallSteps(Handles& handles, std::wstring& message, uint32_t& error);
    void ShowCommandFailure(const CNTServiceCommandLineInfo& info, uint32_t stringId,
                            uint32_t error);
    void ReportNamedEvent(uint32_t eventId);
};
