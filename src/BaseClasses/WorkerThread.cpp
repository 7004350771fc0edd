#include "BaseClasses/WorkerThread.h"

#include "BaseClasses/LogData.h"
#include "platform/Com.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\BaseClasses\\WorkerThread.cpp";

}  // namespace

CWorkerThread::CWorkerThread()
    : stopEvent_(kx::platform::CreateEventObject(false, false)),
      finishedEvent_(kx::platform::CreateEventObject(false, false)) {
    waitList_.push_back(WaitEntry{stopEvent_, nullptr, nullptr});
}

CWorkerThread::~CWorkerThread() {
    Stop();
    kx::platform::CloseEventObject(stopEvent_);
    kx::platform::CloseEventObject(finishedEvent_);
}

bool CWorkerThread::AddWaitHandle(kx::platform::EventHandle handle, Callback callback,
                                  void* userData) {
    if (waitList_.size() >= kx::platform::kMaximumWaitObjects || thread_.IsStarted()) return false;
    waitList_.push_back(WaitEntry{handle, callback, userData});
    return true;
}

void CWorkerThread::Start(int priority) {
    if (thread_.IsStarted()) return;
    thread_.Start(&CWorkerThread::ThreadProc, this, priority);
    threadId_ = thread_.GetId();
}

bool CWorkerThread::Stop() {
    if (!thread_.IsStarted()) return true;
    // Let the thread get to run and see the stop.
    thread_.SetPriority(kx::platform::kThreadPriorityTimeCritical);
    kx::platform::SetEventObject(stopEvent_);
    if (kx::platform::WaitForEvent(finishedEvent_, kStopGraceMilliseconds) ==
        kx::platform::kWaitTimeout) {
        LogMessage(kSourceFile, __LINE__, kLogWarning,
                   L"Worker thread %d did not stop within %d milliseconds; ending it.", threadId_,
                   kStopGraceMilliseconds);
        if (!thread_.ForceEnd()) return false;
    }
    thread_.Close();
    threadId_ = 0;
    return true;
}

void CWorkerThread::ThreadProc(void* self) {
    static_cast<CWorkerThread*>(self)->Loop();
}

void CWorkerThread::Loop() {
    kx::platform::ComInitializeApartmentThreaded();
    // The list is fixed once the thread runs; copy the handles once.
    std::vector<kx::platform::EventHandle> handles;
    for (const WaitEntry& entry : waitList_) handles.push_back(entry.handle);
    const auto count = static_cast<uint32_t>(handles.size());
    for (;;) {
        uint32_t index =
            kx::platform::WaitForAnyEvent(handles.data(), count, kx::platform::kInfinite);
        // The stop event, or a wait that failed: a failed wait would fail
        // again at once, so the thread ends rather than spin.
        if (index == 0 || index >= count) break;
        const WaitEntry& entry = waitList_[index];
        if (entry.callback) entry.callback(entry.userData);
    }
    kx::platform::SetEventObject(finishedEvent_);
    kx::platform::ComUninitialize();
}
