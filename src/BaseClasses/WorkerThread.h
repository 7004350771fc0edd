#pragma once
// A background thread that sleeps on a small set of events and, whenever one
// is signalled, runs the callback registered for it on the thread. Events are
// auto-reset, so signals that arrive during a run coalesce into one more run.

#include <cstdint>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"

class CWorkerThread {
public:
    using Callback = int (*)(void* userData);

    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Must be called before Start. False when the list already holds the
    // platform's limit of 64 handles (the stop event included).
    bool AddWaitHandle(kx::platform::EventHandle handle, Callback callback, void* userData);
    void Start(int priority);
    // Signals the stop event and waits up to 500 ms for the thread to finish;
    // a thread that has not finished by then is ended by force (see
    // CNativeThread::ForceEnd). False when it could not be ended.
    bool Stop();

    uint32_t GetThreadId() const { return threadId_; }

    static constexpr uint32_t kStopGraceMilliseconds = 500;

private:
    struct WaitEntry {
        kx::platform::EventHandle handle;
        Callback callback;
        void* userData;
    };

    static void ThreadProc(void* self);
    void Loop();

    uint32_t threadId_ = 0;
    kx::platform::CNativeThread thread_;
    kx::platform::EventHandle stopEvent_;
    kx::platform::EventHandle finishedEvent_;
    std::vector<WaitEntry> waitList_;
};
