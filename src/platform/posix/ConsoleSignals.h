#pragma once
// The console handler on Linux: SIGINT is Ctrl+C, SIGQUIT Ctrl+Break, SIGHUP
// (the terminal closed) and SIGTERM the close event. The signal handler only
// writes the signal to a pipe; a thread of its own calls the console handler,
// as Windows calls it on a thread of the console's. A handler that answers
// false (or none) lets the signal end the process as it would have.

#include <condition_variable>
#include <mutex>

#include "platform/ServiceControl.h"

namespace kx::platform {

class CConsoleSignals {
public:
    static CConsoleSignals& Instance();
    // Removing the handler waits until a call of it in progress has
    // returned, so that its owner may go away afterwards.
    bool SetHandler(ConsoleHandlerFunction handler, bool add);
    // The console event of a signal, or -1.
    static int EventOfSignal(int signal);

private:
    bool Install();
    void Watch();

    std::mutex mutex_;
    std::condition_variable idle_;
    ConsoleHandlerFunction handler_ = nullptr;
    int calls_ = 0;
    bool installed_ = false;
};

}  // namespace kx::platform
