#include "platform/posix/ConsoleSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/Process.h"

namespace kx::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
int g_pipe[2] = {-1, -1};

void OnSignal(int signal) {
    const int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signal);
    ssize_t written = write(g_pipe[1], &byte, 1);
    (void)written;
    errno = saved;
}

void Resignal(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    raise(signal);
}

}  // namespace

CConsoleSignals& CConsoleSignals::Instance() {
    static CConsoleSignals signals;
    return signals;
}

int CConsoleSignals::EventOfSignal(int signal) {
    switch (signal) {
        case SIGINT:
            return static_cast<int>(kConsoleCtrlC);
        case SIGQUIT:
            return static_cast<int>(kConsoleCtrlBreak);
        case SIGHUP:
        case SIGTERM:
            return static_cast<int>(kConsoleClose);
        default:
            return -1;
    }
}

bool CConsoleSignals::SetHandler(ConsoleHandlerFunction handler, bool add) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!add) {
        if (handler_ != handler) {
            SetLastErrorCode(kErrorServiceInvalidParameter);
            return false;
        }
        handler_ = nullptr;
        idle_.wait(lock, [this] { return calls_ == 0; });
        return true;
    }
    handler_ = handler;
    return installed_ || Install();
}

bool CConsoleSignals::Install() {
    if (pipe2(g_pipe, O_CLOEXEC) != 0) {
        SetLastErrorCode(kErrorAccessDenied);
        return false;
    }
    for (int signal : kSignals) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
    installed_ = true;
    std::thread([this] { Watch(); }).detach();
    return true;
}

void CConsoleSignals::Watch() {
    for (;;) {
        unsigned char byte = 0;
        ssize_t got = read(g_pipe[0], &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        ConsoleHandlerFunction handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handler = handler_;
            if (handler) ++calls_;
        }
        const int consoleEvent = EventOfSignal(byte);
        bool handled = false;
        if (handler) {
            handled = consoleEvent >= 0 && handler(static_cast<uint32_t>(consoleEvent));
            std::lock_guard<std::mutex> lock(mutex_);
            --calls_;
            idle_.notify_all();
        }
        if (!handled) Resignal(byte);
    }
}

}  // namespace kx::platform
