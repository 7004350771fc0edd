#pragma once
// The service process's side of the Linux service manager: the dispatcher
// that a started service's main thread runs (StartServiceCtrlDispatcherW),
// the control handler registration and the status reports.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ServiceControl.h"
#include "platform/posix/ServiceRuntime.h"

namespace kx::platform {

class CServiceDispatcher {
public:
    static CServiceDispatcher& Instance();

    // Fails at once with 1063 in a process that the service manager did not
    // start. Otherwise runs the table's service main on a thread of its own
    // and answers controls on the calling thread until the service reports
    // stopped; then true.
    bool Run(const ServiceTableEntry* table);
    ServiceStatusHandle Register(const wchar_t* serviceName, ServiceHandlerExFunction handlerEx,
                                 ServiceHandlerFunction handler, void* context);
    bool Report(ServiceStatusHandle handle, const ServiceStatus& status);

private:
    bool Listen();
    void AnswerControls();
    void Answer(int client);
    uint32_t CallHandler(uint32_t control, uint32_t eventType);
    void Finish();

    std::mutex mutex_;
    std::wstring name_;
    std::string token_;
    std::unique_ptr<CServiceRuntime> runtime_;
    ServiceHandlerExFunction handlerEx_ = nullptr;
    ServiceHandlerFunction handler_ = nullptr;
    void* context_ = nullptr;
    ServiceStatus status_;
    bool running_ = false;
    bool stopped_ = false;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
};

}  // namespace kx::platform
