#pragma once
// An operating-system thread with Windows priorities and, on Windows, forced
// termination.

#include <cstdint>
#include <memory>

namespace kx::platform {

// Thread priorities as Windows numbers them; Linux maps them to nice values
// (raising above normal needs privileges there and is then silently skipped).
enum ThreadPriority : int {
    kThreadPriorityIdle = -15,
    kThreadPriorityLowest = -2,
    kThreadPriorityBelowNormal = -1,
    kThreadPriorityNormal = 0,
    kThreadPriorityAboveNormal = 1,
    kThreadPriorityHighest = 2,
    kThreadPriorityTimeCritical = 15,
};

class CNativeThread {
public:
    using Procedure = void (*)(void* parameter);

    CNativeThread();
    ~CNativeThread();  // waits for a thread that is still running, then releases it
    CNativeThread(const CNativeThread&) = delete;
    CNativeThread& operator=(const CNativeThread&) = delete;

    // Creates the thread suspended, applies the priority, then lets it run.
    bool Start(Procedure procedure, void* parameter, int priority);
    bool IsStarted() const;
    uint32_t GetId() const;
    bool SetPriority(int priority);
    // Ends a thread that did not stop in time. Windows terminates it with its
    // current exit code (GetExitCodeThread, TerminateThread) and returns false
    // if either call fails. A thread cannot be ended safely from outside on
    // Linux, so there it waits until the thread ends by itself.
    bool ForceEnd();
    // Waits until the thread has ended and releases it.
    void Close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kx::platform
