#include "platform/posix/ServiceDispatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "common/Text.h"
#include "platform/Process.h"
#include "platform/posix/ServiceDatabase.h"
#include "platform/posix/ServiceRecovery.h"

namespace kx::platform {
namespace {

bool Fail(uint32_t code) {
    SetLastErrorCode(code);
    return false;
}

std::string TakeVariable(const char* name) {
    const char* value = std::getenv(name);
    std::string text = value ? value : "";
    // The service's own child processes are not services.
    unsetenv(name);
    return text;
}

std::vector<std::wstring> StartArguments(const std::wstring& name, const std::string& joined) {
    std::vector<std::wstring> arguments{name};
    if (joined.empty()) return arguments;
    std::wstring rest = Utf8ToWide(joined);
    std::size_t start = 0;
    for (std::size_t end; (end = rest.find(L'\x1f', start)) != std::wstring::npos;
         start = end + 1) {
        arguments.push_back(rest.substr(start, end - start));
    }
    arguments.push_back(rest.substr(start));
    return arguments;
}

// Only the socket's owner (the service's user) or root may send controls.
bool PeerMayControl(int client) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return peer.uid == 0 || peer.uid == geteuid();
}

bool ReadRequest(int client, ControlRequest* request) {
    timeval timeout{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    auto* bytes = reinterpret_cast<char*>(request);
    std::size_t left = sizeof(*request);
    while (left) {
        ssize_t got = read(client, bytes, left);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        left -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

CServiceDispatcher& CServiceDispatcher::Instance() {
    static CServiceDispatcher dispatcher;
    return dispatcher;
}

bool CServiceDispatcher::Run(const ServiceTableEntry* table) {
    std::string name = TakeVariable(kServiceNameVariable);
    std::string token = TakeVariable(kServiceTokenVariable);
    std::string joined = TakeVariable(kServiceArgumentsVariable);
    std::string ended = TakeVariable(kServiceEndedVariable);
    if (!name.empty() && !ended.empty()) {
        // Not the service: its monitor, after the service's process ended.
        CServiceRecovery(Utf8ToWide(name), ended).Run();
        return Fail(kErrorFailedServiceControllerConnect);
    }
    if (name.empty() || token.empty()) return Fail(kErrorFailedServiceControllerConnect);
    if (!table || !table[0].serviceMain) return Fail(kErrorServiceInvalidParameter);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) return Fail(kErrorServiceAlreadyRunning);
        running_ = true;
        name_ = Utf8ToWide(name);
        token_ = token;
        runtime_ = std::make_unique<CServiceRuntime>(name_);
        status_ = ServiceStatus{kServiceWin32OwnProcess, kServiceStartPending, 0, 0, 0, 0, 2000};
    }
    if (!Listen()) return false;
    runtime_->WriteRecord(RuntimeRecord{token_, getpid(), status_});

    std::vector<std::wstring> arguments = StartArguments(name_, joined);
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments) argv.push_back(argument.data());
    ServiceMainFunction serviceMain = table[0].serviceMain;
    std::thread main([&] { serviceMain(static_cast<uint32_t>(argv.size()), argv.data()); });
    AnswerControls();
    main.join();
    Finish();
    return true;
}

bool CServiceDispatcher::Listen() {
    std::string path = runtime_->SocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return Fail(kErrorInvalidName);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || pipe2(wake_, O_CLOEXEC) != 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(listener_, 8) != 0) {
        return Fail(kErrorFailedServiceControllerConnect);
    }
    return true;
}

void CServiceDispatcher::AnswerControls() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopped_) return;
        }
        pollfd waits[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[0].revents & POLLIN) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                Answer(client);
                close(client);
            }
        }
        if (waits[1].revents & POLLIN) {
            char drained[16];
            if (read(wake_[0], drained, sizeof(drained)) < 0) continue;
        }
    }
}

void CServiceDispatcher::Answer(int client) {
    ControlRequest request{};
    if (!PeerMayControl(client) || !ReadRequest(client, &request)) return;
    ControlAnswer answer{};
    answer.error = CallHandler(request.control, request.eventType);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answer.status = status_;
    }
    ssize_t written = write(client, &answer, sizeof(answer));
    (void)written;
}

uint32_t CServiceDispatcher::CallHandler(uint32_t control, uint32_t eventType) {
    ServiceHandlerExFunction handlerEx;
    ServiceHandlerFunction handler;
    void* context;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handlerEx = handlerEx_;
        handler = handler_;
        context = context_;
    }
    if (handlerEx) {
        uint32_t result = handlerEx(control, eventType, nullptr, context);
        return result == kErrorCallNotImplemented ? kErrorInvalidServiceControl : 0;
    }
    if (handler) {
        handler(control);
        return 0;
    }
    return kErrorServiceCannotAcceptControl;
}

void CServiceDispatcher::Finish() {
    close(listener_);
    unlink(runtime_->SocketPath().c_str());
    close(wake_[0]);
    close(wake_[1]);
    ServiceConfig config;
    if (CServiceDatabase::Read(name_, &config) && config.markedForDelete) {
        CServiceDatabase::Remove(config.name);
    }
}

ServiceStatusHandle CServiceDispatcher::Register(const wchar_t* serviceName,
                                                 ServiceHandlerExFunction handlerEx,
                                                 ServiceHandlerFunction handler, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || !serviceName || !EqualsNoCase(serviceName, name_)) {
        SetLastErrorCode(kErrorServiceNotInExe);
        return nullptr;
    }
    handlerEx_ = handlerEx;
    handler_ = handler;
    context_ = context;
    return this;
}

bool CServiceDispatcher::Report(ServiceStatusHandle handle, const ServiceStatus& status) {
    if (handle != this) return Fail(kErrorServiceInvalidHandle);
    if (status.currentState < kServiceStopped || status.currentState > kServicePaused) {
        return Fail(kErrorServiceInvalidParameter);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || stopped_) return Fail(kErrorServiceInvalidHandle);
    status_ = status;
    bool written = runtime_->WriteRecord(RuntimeRecord{token_, getpid(), status_});
    if (status.currentState == kServiceStopped) {
        stopped_ = true;
        char wake = 1;
        if (write(wake_[1], &wake, 1) < 0) written = false;
    }
    return written ? true : Fail(kErrorAccessDenied);
}

}  // namespace kx::platform
