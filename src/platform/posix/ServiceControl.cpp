#include "platform/ServiceControl.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/Process.h"
#include "platform/posix/ConsoleSignals.h"
#include "platform/posix/ServiceDatabase.h"
#include "platform/posix/ServiceDispatcher.h"
#include "platform/posix/ServiceRuntime.h"

namespace kx::platform {
namespace {

constexpr uint32_t kErrorDatabaseDoesNotExist = 1065;
constexpr uint32_t kErrorRpcServerUnavailable = 1722;

// What an SC_HANDLE or SC_LOCK stands for.
struct ServiceObject {
    enum class Kind { Manager, Service, Lock } kind;
    uint32_t access = 0;
    std::wstring name;  // services: the name as stored
    bool deleted = false;
    int lockFile = -1;
};

bool Fail(uint32_t code) {
    SetLastErrorCode(code);
    return false;
}

template <typename T>
T* FailNull(uint32_t code) {
    SetLastErrorCode(code);
    return nullptr;
}

bool IsValidServiceName(const wchar_t* name) {
    if (!name || !*name) return false;
    for (const wchar_t* c = name; *c; ++c) {
        if (*c == L'/' || *c == L'\\') return false;
    }
    return true;
}

bool IsLocalMachine(const wchar_t* machine) {
    if (!machine || !*machine) return true;
    std::wstring name = machine;
    if (name.rfind(L"\\\\", 0) == 0) name = name.substr(2);
    return EqualsNoCase(name, GetLocalComputerName()) || EqualsNoCase(name, L"localhost");
}

bool IsPending(uint32_t state) {
    return state == kServiceStartPending || state == kServiceStopPending ||
           state == kServiceContinuePending || state == kServicePausePending;
}

// The right a control needs and the accepted-controls bit it needs (0: none).
bool ControlRequirements(uint32_t control, uint32_t* right, uint32_t* accept) {
    *accept = 0;
    if (control >= 128 && control <= 255) {
        *right = kServiceUserDefinedControl;
        return true;
    }
    switch (control) {
        case kControlStop:
            *right = kServiceStopRight;
            *accept = kAcceptStop;
            return true;
        case kControlPause:
        case kControlContinue:
            *right = kServicePauseContinue;
            *accept = kAcceptPauseContinue;
            return true;
        case kControlInterrogate:
            *right = kServiceInterrogate;
            return true;
        case kControlParamChange:
            *right = kServicePauseContinue;
            *accept = kAcceptParamChange;
            return true;
        case 7:
        case 8:
        case 9:
        case 10:
            *right = kServicePauseContinue;
            *accept = kAcceptNetBindChange;
            return true;
        default:
            return false;
    }
}

class CPosixServiceControl : public IServiceControl {
public:
    ServiceHandle OpenManager(const wchar_t* machine, const wchar_t* database,
                              uint32_t access) override {
        if (!IsLocalMachine(machine)) return FailNull<void>(kErrorRpcServerUnavailable);
        if (database && *database && !EqualsNoCase(database, L"ServicesActive")) {
            return FailNull<void>(kErrorDatabaseDoesNotExist);
        }
        return Add(ServiceObject{ServiceObject::Kind::Manager, access, L"", false, -1});
    }

    ServiceLockHandle LockDatabase(ServiceHandle manager) override {
        ServiceObject object;
        if (!Find(manager, ServiceObject::Kind::Manager, &object)) return nullptr;
        if (!(object.access & kManagerLock)) return FailNull<void>(kErrorAccessDenied);
        std::string path = CServiceRuntime::Folder() + "/database.lock";
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return FailNull<void>(kErrorAccessDenied);
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return FailNull<void>(kErrorServiceDatabaseLocked);
        }
        return Add(ServiceObject{ServiceObject::Kind::Lock, 0, L"", false, fd});
    }

    bool UnlockDatabase(ServiceLockHandle lock) override {
        ServiceObject object;
        if (!Find(lock, ServiceObject::Kind::Lock, &object)) return false;
        close(object.lockFile);
        Remove(lock);
        return true;
    }

    ServiceHandle CreateServiceEntry(ServiceHandle manager, const ServiceCreation& c) override {
        ServiceObject object;
        if (!Find(manager, ServiceObject::Kind::Manager, &object)) return nullptr;
        if (!(object.access & kManagerCreateService)) return FailNull<void>(kErrorAccessDenied);
        if (!IsValidServiceName(c.serviceName)) return FailNull<void>(kErrorInvalidName);
        uint32_t baseType = c.serviceType & ~kServiceInteractiveProcess;
        if ((baseType != kServiceWin32OwnProcess && baseType != 0x20) || c.startType > 4 ||
            !c.binaryPathName || !*c.binaryPathName) {
            return FailNull<void>(kErrorServiceInvalidParameter);
        }
        if (uint32_t error = CServiceDatabase::Create(c)) return FailNull<void>(error);
        return Add(
            ServiceObject{ServiceObject::Kind::Service, c.desiredAccess, c.serviceName, false, -1});
    }

    ServiceHandle OpenServiceEntry(ServiceHandle manager, const wchar_t* name,
                                   uint32_t access) override {
        ServiceObject object;
        if (!Find(manager, ServiceObject::Kind::Manager, &object)) return nullptr;
        ServiceConfig config;
        if (!name || !CServiceDatabase::Read(name, &config)) {
            return FailNull<void>(kErrorServiceDoesNotExist);
        }
        return Add(ServiceObject{ServiceObject::Kind::Service, access, config.name, false, -1});
    }

    bool DeleteServiceEntry(ServiceHandle service) override {
        ServiceObject object;
        if (!FindService(service, kServiceDelete, &object)) return false;
        ServiceConfig config;
        if (object.deleted || !CServiceDatabase::Read(object.name, &config) ||
            config.markedForDelete) {
            return Fail(kErrorServiceMarkedForDelete);
        }
        // Under the start lock, so that no restart brings the service back
        // between the look at its state and its removal.
        CServiceRuntime runtime(object.name);
        const int startLock = runtime.LockStarts();
        bool stopped = runtime.LiveStatus().currentState == kServiceStopped;
        uint32_t error = stopped ? CServiceDatabase::Remove(object.name)
                                 : CServiceDatabase::MarkForDelete(object.name);
        if (!error && stopped) runtime.Forget();
        if (startLock >= 0) close(startLock);
        if (error) return Fail(error);
        MarkDeleted(service);
        return true;
    }

    bool CloseServiceHandle(ServiceHandle handle) override {
        ServiceObject object;
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end() || found->second->kind == ServiceObject::Kind::Lock) {
            return Fail(kErrorServiceInvalidHandle);
        }
        objects_.erase(found);
        return true;
    }

    bool QueryStatus(ServiceHandle service, ServiceStatus* status) override {
        ServiceObject object;
        if (!FindService(service, kServiceQueryStatus, &object)) return false;
        *status = CServiceRuntime(object.name).LiveStatus();
        if (status->currentState == kServiceStopped) RemoveIfMarked(object.name);
        return true;
    }

    bool SendControl(ServiceHandle service, uint32_t control, ServiceStatus* status) override {
        uint32_t right = 0;
        uint32_t accept = 0;
        if (!ControlRequirements(control, &right, &accept)) {
            return Fail(kErrorServiceInvalidParameter);
        }
        ServiceObject object;
        if (!FindService(service, right, &object)) return false;
        CServiceRuntime runtime(object.name);
        ServiceStatus current = runtime.LiveStatus();
        if (status) *status = current;
        if (current.currentState == kServiceStopped) return Fail(kErrorServiceNotActive);
        if (control != kControlInterrogate && IsPending(current.currentState)) {
            return Fail(kErrorServiceCannotAcceptControl);
        }
        if (accept && !(current.controlsAccepted & accept)) {
            return Fail(kErrorInvalidServiceControl);
        }
        ServiceStatus after;
        uint32_t error = runtime.SendControl(control, &after);
        if (error) return Fail(error);
        if (status) *status = after;
        return true;
    }

    bool StartServiceProcess(ServiceHandle service, uint32_t argc, const wchar_t** argv) override {
        ServiceObject object;
        if (!FindService(service, kServiceStart, &object)) return false;
        ServiceConfig config;
        if (!CServiceDatabase::Read(object.name, &config)) {
            return Fail(kErrorServiceDoesNotExist);
        }
        if (config.markedForDelete) return Fail(kErrorServiceMarkedForDelete);
        if (config.startType == kServiceDisabled) return Fail(kErrorServiceDisabled);
        std::vector<std::wstring> arguments;
        for (uint32_t i = 0; argv && i < argc; ++i) arguments.emplace_back(argv[i]);
        return Launch(config, arguments);
    }

    bool HasChangeServiceConfig2() override { return true; }

    bool ChangeDescription(ServiceHandle service, const wchar_t* description) override {
        ServiceObject object;
        if (!FindService(service, kServiceChangeConfig, &object)) return false;
        if (uint32_t error = CServiceDatabase::SetDescription(object.name, description)) {
            return Fail(error);
        }
        return true;
    }

    bool ChangeFailureActions(ServiceHandle service,
                              const ServiceFailureActions& failureActions) override {
        ServiceObject object;
        uint32_t right = kServiceChangeConfig;
        for (const ServiceAction& action : failureActions.actions) {
            if (action.type == kActionRestart) right |= kServiceStart;
        }
        if (!FindService(service, right, &object)) return false;
        if (uint32_t error = CServiceDatabase::SetFailureActions(object.name, failureActions)) {
            return Fail(error);
        }
        return true;
    }

    bool ChangeFailureActionsFlag(ServiceHandle service, bool onNonCrashFailures) override {
        ServiceObject object;
        if (!FindService(service, kServiceChangeConfig, &object)) return false;
        if (uint32_t error =
                CServiceDatabase::SetFailureActionsFlag(object.name, onNonCrashFailures)) {
            return Fail(error);
        }
        return true;
    }

    bool QueryFailureActions(ServiceHandle service, ServiceFailureActions* failureActions,
                             bool* onNonCrashFailures) override {
        ServiceObject object;
        if (!FindService(service, kServiceQueryConfig, &object)) return false;
        ServiceConfig config;
        if (!CServiceDatabase::Read(object.name, &config)) return Fail(kErrorServiceDoesNotExist);
        *failureActions = config.failureActions;
        *onNonCrashFailures = config.failureActionsOnNonCrashFailures;
        return true;
    }

    bool RunDispatcher(const ServiceTableEntry* table) override {
        return CServiceDispatcher::Instance().Run(table);
    }
    bool HasRegisterServiceCtrlHandlerEx() override { return true; }
    ServiceStatusHandle RegisterHandlerEx(const wchar_t* serviceName,
                                          ServiceHandlerExFunction handler,
                                          void* context) override {
        return CServiceDispatcher::Instance().Register(serviceName, handler, nullptr, context);
    }
    ServiceStatusHandle RegisterHandler(const wchar_t* serviceName,
                                        ServiceHandlerFunction handler) override {
        return CServiceDispatcher::Instance().Register(serviceName, nullptr, handler, nullptr);
    }
    bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override {
        return CServiceDispatcher::Instance().Report(handle, status);
    }

    bool SetConsoleHandler(ConsoleHandlerFunction handler, bool add) override {
        return CConsoleSignals::Instance().SetHandler(handler, add);
    }
    void ShowMessageBox(const std::wstring& text, const std::wstring&) override {
        std::fputs((WideToUtf8(text) + "\n").c_str(), stdout);
        std::fflush(stdout);
    }

private:
    ServiceHandle Add(ServiceObject object) {
        auto owned = std::make_unique<ServiceObject>(std::move(object));
        ServiceHandle handle = owned.get();
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.emplace(handle, std::move(owned));
        return handle;
    }

    bool Find(void* handle, ServiceObject::Kind kind, ServiceObject* object) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end() || found->second->kind != kind) {
            return Fail(kErrorServiceInvalidHandle);
        }
        *object = *found->second;
        return true;
    }

    bool FindService(void* handle, uint32_t right, ServiceObject* object) {
        if (!Find(handle, ServiceObject::Kind::Service, object)) return false;
        return (object->access & right) == right ? true : Fail(kErrorAccessDenied);
    }

    void Remove(void* handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.erase(handle);
    }

    void MarkDeleted(void* handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found != objects_.end()) found->second->deleted = true;
    }

    static void RemoveIfMarked(const std::wstring& name) {
        ServiceConfig config;
        if (CServiceDatabase::Read(name, &config) && config.markedForDelete) {
            CServiceDatabase::Remove(config.name);
        }
    }

    // Starts the process and waits until its dispatcher has connected.
    static bool Launch(const ServiceConfig& config, const std::vector<std::wstring>& arguments) {
        CServiceRuntime runtime(config.name);
        const int startLock = runtime.LockStarts();
        if (startLock < 0) return Fail(kErrorAccessDenied);
        uint32_t error = runtime.StartAndWait(config, arguments);
        close(startLock);
        return error ? Fail(error) : true;
    }

    std::mutex mutex_;
    std::map<void*, std::unique_ptr<ServiceObject>> objects_;
};

}  // namespace

IServiceControl& GetServiceControl() {
    static CPosixServiceControl control;
    return control;
}

}  // namespace kx::platform
