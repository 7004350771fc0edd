#pragma once
// A service control manager in memory for the framework's tests: one
// service whose states a test scripts, every call recorded, and each
// operation able to fail with a chosen error code. Handles are counted so
// that a test sees every opened handle closed again.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"

class CFakeServiceControl : public kx::platform::IServiceControl {
public:
    struct Call {
        std::string name;
        uint32_t access = 0;  // or the control code
        std::wstring text;
    };

    // The state QueryStatus answers, and the states it answers next (one per
    // query, the last one kept).
    void SetState(uint32_t state) { states_ = {state}; }
    void SetStates(std::vector<uint32_t> states) { states_ = std::move(states); }
    // The next call of this operation ("OpenManager", "LockDatabase",
    // "CreateServiceEntry", "OpenServiceEntry", "DeleteServiceEntry",
    // "QueryStatus", "SendControl", "StartServiceProcess", "RunDispatcher",
    // "RegisterHandlerEx") fails with the error, and every later call too.
    void FailWith(const std::string& operation, uint32_t error) { failures_[operation] = error; }
    void SetHasHandlerEx(bool has) { hasHandlerEx_ = has; }
    // Run when a control is sent or a service start requested.
    void OnRequest(std::function<void(uint32_t control)> action) { onRequest_ = std::move(action); }

    std::vector<Call> Calls() const;
    std::vector<std::string> CallNames() const;
    int OpenHandles() const { return openHandles_; }
    bool Locked() const { return locked_; }
    std::vector<kx::platform::ServiceStatus> Reports() const { return reports_; }
    const kx::platform::ServiceCreation& Creation() const { return creation_; }
    std::vector<wchar_t> CreationDependencies() const { return dependencies_; }
    std::wstring CreationBinaryPath() const { return binaryPath_; }
    std::wstring Description() const { return description_; }
    int Queries() const { return queries_; }
    std::vector<std::wstring> MessageBoxes() const { return messageBoxes_; }
    kx::platform::ConsoleHandlerFunction ConsoleHandler() const { return consoleHandler_; }
    kx::platform::ServiceHandlerExFunction HandlerEx() const { return handlerEx_; }
    kx::platform::ServiceHandlerFunction Handler() const { return handler_; }

    kx::platform::ServiceHandle OpenManager(const wchar_t* machine, const wchar_t* database,
                                            uint32_t access) override;
    kx::platform::ServiceLockHandle LockDatabase(kx::platform::ServiceHandle manager) override;
    bool UnlockDatabase(kx::platform::ServiceLockHandle lock) override;
    kx::platform::ServiceHandle CreateServiceEntry(kx::platform::ServiceHandle manager,
                                                   const kx::platform::ServiceCreation& c) override;
    kx::platform::ServiceHandle OpenServiceEntry(kx::platform::ServiceHandle manager,
                                                 const wchar_t* name, uint32_t access) override;
    bool DeleteServiceEntry(kx::platform::ServiceHandle service) override;
    bool CloseServiceHandle(kx::platform::ServiceHandle handle) override;
    bool QueryStatus(kx::platform::ServiceHandle service,
                     kx::platform::ServiceStatus* status) override;
    bool SendControl(kx::platform::ServiceHandle service, uint32_t control,
                     kx::platform::ServiceStatus* status) override;
    bool StartServiceProcess(kx::platform::ServiceHandle service, uint32_t argc,
                             const wchar_t** argv) override;
    bool HasChangeServiceConfig2() override { return true; }
    bool ChangeDescription(kx::platform::ServiceHandle service,
                           const wchar_t* description) override;
    bool ChangeFailureActions(kx::platform::ServiceHandle service,
                              const kx::platform::ServiceFailureActions& failureActions) override;
    bool ChangeFailureActionsFlag(kx::platform::ServiceHandle service,
                                  bool onNonCrashFailures) override;
    bool QueryFailureActions(kx::platform::ServiceHandle service,
                             kx::platform::ServiceFailureActions* failureActions,
                             bool* onNonCrashFailures) override;
    bool RunDispatcher(const kx::platform::ServiceTableEntry* table) override;
    bool HasRegisterServiceCtrlHandlerEx() override { return hasHandlerEx_; }
    kx::platform::ServiceStatusHandle RegisterHandlerEx(
        const wchar_t* serviceName, kx::platform::ServiceHandlerExFunction handler,
        void* context) override;
    kx::platform::ServiceStatusHandle RegisterHandler(
        const wchar_t* serviceName, kx::platform::ServiceHandlerFunction handler) override;
    bool ReportServiceStatus(kx::platform::ServiceStatusHandle handle,
                             const kx::platform::ServiceStatus& status) override;
    bool SetConsoleHandler(kx::platform::ConsoleHandlerFunction handler, bool add) override;
    void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override;

private:
    bool Fails(const std::string& operation);
    void Record(const std::string& name, uint32_t access, const std::wstring& text = L"");
    void* NewHandle();

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::map<std::string, uint32_t> failures_;
    std::vector<uint32_t> states_{kx::platform::kServiceStopped};
    bool hasHandlerEx_ = true;
    std::function<void(uint32_t)> onRequest_;
    int openHandles_ = 0;
    bool locked_ = false;
    int nextHandle_ = 1;
    int queries_ = 0;
    kx::platform::ServiceCreation creation_;
    std::vector<wchar_t> dependencies_;
    std::wstring binaryPath_;
    std::wstring description_;
    kx::platform::ServiceFailureActions failureActions_;
    bool onNonCrashFailures_ = false;
    std::vector<kx::platform::ServiceStatus> reports_;
    std::vector<std::wstring> messageBoxes_;
    kx::platform::ConsoleHandlerFunction consoleHandler_ = nullptr;
    kx::platform::ServiceHandlerExFunction handlerEx_ = nullptr;
    kx::platform::ServiceHandlerFunction handler_ = nullptr;
    const kx::platform::ServiceTableEntry* table_ = nullptr;
};
