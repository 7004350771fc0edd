#include "platform/ServiceControl.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace kx::platform {
namespace {

using RegisterHandlerExProc = SERVICE_STATUS_HANDLE(WINAPI*)(LPCWSTR, LPHANDLER_FUNCTION_EX,
                                                             LPVOID);
using ChangeConfig2Proc = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
using QueryConfig2Proc = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);

// One service per process: the platform calls these trampolines, which
// forward to the entry points the core handed over.
ServiceMainFunction g_serviceMain = nullptr;
ServiceHandlerExFunction g_handlerEx = nullptr;
ServiceHandlerFunction g_handler = nullptr;
// The console calls its handler on a thread of its own; removing the handler
// waits for a call in progress, so that its owner may go away afterwards.
std::mutex g_consoleMutex;
std::condition_variable g_consoleIdle;
ConsoleHandlerFunction g_consoleHandler = nullptr;
int g_consoleCalls = 0;

void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv) {
    if (g_serviceMain) g_serviceMain(argc, argv);
}

DWORD WINAPI HandlerExTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    return g_handlerEx ? g_handlerEx(control, eventType, eventData, context) : NO_ERROR;
}

void WINAPI HandlerTrampoline(DWORD control) {
    if (g_handler) g_handler(control);
}

BOOL WINAPI ConsoleTrampoline(DWORD consoleEvent) {
    ConsoleHandlerFunction handler;
    {
        std::lock_guard<std::mutex> lock(g_consoleMutex);
        handler = g_consoleHandler;
        if (!handler) return FALSE;
        ++g_consoleCalls;
    }
    const bool handled = handler(consoleEvent);
    std::lock_guard<std::mutex> lock(g_consoleMutex);
    --g_consoleCalls;
    g_consoleIdle.notify_all();
    return handled ? TRUE : FALSE;
}

SERVICE_STATUS ToNative(const ServiceStatus& status) {
    SERVICE_STATUS native{};
    native.dwServiceType = status.serviceType;
    native.dwCurrentState = status.currentState;
    native.dwControlsAccepted = status.controlsAccepted;
    native.dwWin32ExitCode = status.win32ExitCode;
    native.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    native.dwCheckPoint = status.checkPoint;
    native.dwWaitHint = status.waitHint;
    return native;
}

void FromNative(const SERVICE_STATUS& native, ServiceStatus* status) {
    if (!status) return;
    status->serviceType = native.dwServiceType;
    status->currentState = native.dwCurrentState;
    status->controlsAccepted = native.dwControlsAccepted;
    status->win32ExitCode = native.dwWin32ExitCode;
    status->serviceSpecificExitCode = native.dwServiceSpecificExitCode;
    status->checkPoint = native.dwCheckPoint;
    status->waitHint = native.dwWaitHint;
}

class CWin32ServiceControl : public IServiceControl {
public:
    CWin32ServiceControl() {
        // Older systems lack these two: they are found at run time.
        HMODULE advapi = GetModuleHandleW(L"ADVAPI32.DLL");
        if (advapi) {
            registerHandlerEx_ = reinterpret_cast<RegisterHandlerExProc>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "RegisterServiceCtrlHandlerExW")));
            changeConfig2_ = reinterpret_cast<ChangeConfig2Proc>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")));
            queryConfig2_ = reinterpret_cast<QueryConfig2Proc>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "QueryServiceConfig2W")));
        }
    }

    ServiceHandle OpenManager(const wchar_t* machine, const wchar_t* database,
                              uint32_t access) override {
        return OpenSCManagerW(machine, database, access);
    }
    ServiceLockHandle LockDatabase(ServiceHandle manager) override {
        return LockServiceDatabase(static_cast<SC_HANDLE>(manager));
    }
    bool UnlockDatabase(ServiceLockHandle lock) override {
        return UnlockServiceDatabase(static_cast<SC_LOCK>(lock)) != FALSE;
    }
    ServiceHandle CreateServiceEntry(ServiceHandle manager, const ServiceCreation& c) override {
        return CreateServiceW(
            static_cast<SC_HANDLE>(manager), c.serviceName, c.displayName, c.desiredAccess,
            c.serviceType, c.startType, c.errorControl, c.binaryPathName, c.loadOrderGroup,
            reinterpret_cast<LPDWORD>(c.tagId), c.dependencies, c.serviceStartName, c.password);
    }
    ServiceHandle OpenServiceEntry(ServiceHandle manager, const wchar_t* name,
                                   uint32_t access) override {
        return OpenServiceW(static_cast<SC_HANDLE>(manager), name, access);
    }
    bool DeleteServiceEntry(ServiceHandle service) override {
        return DeleteService(static_cast<SC_HANDLE>(service)) != FALSE;
    }
    bool CloseServiceHandle(ServiceHandle handle) override {
        return ::CloseServiceHandle(static_cast<SC_HANDLE>(handle)) != FALSE;
    }
    bool QueryStatus(ServiceHandle service, ServiceStatus* status) override {
        SERVICE_STATUS native{};
        if (!QueryServiceStatus(static_cast<SC_HANDLE>(service), &native)) return false;
        FromNative(native, status);
        return true;
    }
    bool SendControl(ServiceHandle service, uint32_t control, ServiceStatus* status) override {
        SERVICE_STATUS native{};
        BOOL sent = ControlService(static_cast<SC_HANDLE>(service), control, &native);
        FromNative(native, status);
        return sent != FALSE;
    }
    bool StartServiceProcess(ServiceHandle service, uint32_t argc, const wchar_t** argv) override {
        return StartServiceW(static_cast<SC_HANDLE>(service), argc, argv) != FALSE;
    }
    bool HasChangeServiceConfig2() override { return changeConfig2_ != nullptr; }
    bool ChangeDescription(ServiceHandle service, const wchar_t* description) override {
        SERVICE_DESCRIPTIONW info{const_cast<LPWSTR>(description)};
        return ChangeConfig2(service, SERVICE_CONFIG_DESCRIPTION, &info);
    }
    bool ChangeFailureActions(ServiceHandle service,
                              const ServiceFailureActions& failureActions) override {
        std::vector<SC_ACTION> actions;
        for (const ServiceAction& action : failureActions.actions) {
            actions.push_back(SC_ACTION{static_cast<SC_ACTION_TYPE>(action.type), action.delay});
        }
        SERVICE_FAILURE_ACTIONSW info{};
        info.dwResetPeriod = failureActions.resetPeriod;
        info.cActions = static_cast<DWORD>(actions.size());
        info.lpsaActions = actions.empty() ? nullptr : actions.data();
        return ChangeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &info);
    }
    bool ChangeFailureActionsFlag(ServiceHandle service, bool onNonCrashFailures) override {
        SERVICE_FAILURE_ACTIONS_FLAG info{onNonCrashFailures ? TRUE : FALSE};
        return ChangeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &info);
    }
    bool QueryFailureActions(ServiceHandle service, ServiceFailureActions* failureActions,
                             bool* onNonCrashFailures) override {
        std::vector<BYTE> buffer;
        if (!QueryConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &buffer)) return false;
        const auto* info = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
        failureActions->resetPeriod = info->dwResetPeriod;
        failureActions->actions.clear();
        for (DWORD i = 0; info->lpsaActions && i < info->cActions; ++i) {
            failureActions->actions.push_back(ServiceAction{
                static_cast<uint32_t>(info->lpsaActions[i].Type), info->lpsaActions[i].Delay});
        }
        if (!QueryConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &buffer)) return false;
        *onNonCrashFailures = reinterpret_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(buffer.data())
                                  ->fFailureActionsOnNonCrashFailures != FALSE;
        return true;
    }

    bool RunDispatcher(const ServiceTableEntry* table) override {
        g_serviceMain = table[0].serviceMain;
        SERVICE_TABLE_ENTRYW native[] = {
            {const_cast<LPWSTR>(table[0].serviceName), ServiceMainTrampoline}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(native) != FALSE;
    }
    bool HasRegisterServiceCtrlHandlerEx() override { return registerHandlerEx_ != nullptr; }
    ServiceStatusHandle RegisterHandlerEx(const wchar_t* serviceName,
                                          ServiceHandlerExFunction handler,
                                          void* context) override {
        if (!registerHandlerEx_) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return nullptr;
        }
        g_handlerEx = handler;
        return registerHandlerEx_(serviceName, HandlerExTrampoline, context);
    }
    ServiceStatusHandle RegisterHandler(const wchar_t* serviceName,
                                        ServiceHandlerFunction handler) override {
        g_handler = handler;
        return RegisterServiceCtrlHandlerW(serviceName, HandlerTrampoline);
    }
    bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override {
        SERVICE_STATUS native = ToNative(status);
        return SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(handle), &native) != FALSE;
    }

    bool SetConsoleHandler(ConsoleHandlerFunction handler, bool add) override {
        {
            std::unique_lock<std::mutex> lock(g_consoleMutex);
            g_consoleHandler = add ? handler : nullptr;
            if (!add) g_consoleIdle.wait(lock, [] { return g_consoleCalls == 0; });
        }
        return SetConsoleCtrlHandler(ConsoleTrampoline, add ? TRUE : FALSE) != FALSE;
    }
    void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override {
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
    }

private:
    bool ChangeConfig2(ServiceHandle service, DWORD level, void* info) {
        if (!changeConfig2_) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        return changeConfig2_(static_cast<SC_HANDLE>(service), level, info) != FALSE;
    }
    // The level's structure with the strings and arrays it points into.
    bool QueryConfig2(ServiceHandle service, DWORD level, std::vector<BYTE>* buffer) {
        if (!queryConfig2_) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        DWORD needed = 0;
        queryConfig2_(static_cast<SC_HANDLE>(service), level, nullptr, 0, &needed);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        buffer->assign(needed, 0);
        return queryConfig2_(static_cast<SC_HANDLE>(service), level, buffer->data(), needed,
                             &needed) != FALSE;
    }

    RegisterHandlerExProc registerHandlerEx_ = nullptr;
    ChangeConfig2Proc changeConfig2_ = nullptr;
    QueryConfig2Proc queryConfig2_ = nullptr;
};

}  // namespace

IServiceControl& GetServiceControl() {
    static CWin32ServiceControl control;
    return control;
}

}  // namespace kx::platform
