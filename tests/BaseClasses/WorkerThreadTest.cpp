#include "BaseClasses/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "BaseClasses/LogData.h"
#include "TempDirectory.h"
#include "platform/Event.h"
#include "platform/Process.h"

namespace {

using namespace std::chrono_literals;

// A callback that counts its runs and, while the gate is closed, blocks.
struct GatedCounter {
    std::mutex mutex;
    std::condition_variable changed;
    int runs = 0;
    bool gateOpen = true;
    bool inside = false;
    uint32_t threadId = 0;

    static int Callback(void* self) {
        auto* counter = static_cast<GatedCounter*>(self);
        std::unique_lock<std::mutex> lock(counter->mutex);
        counter->threadId = kx::platform::GetCurrentThreadIdentifier();
        counter->inside = true;
        counter->changed.notify_all();
        counter->changed.wait(lock, [&] { return counter->gateOpen; });
        counter->inside = false;
        ++counter->runs;
        counter->changed.notify_all();
        return 0;
    }

    // Waits on real threads; the limit only guards against a hang.
    template <typename Predicate>
    bool WaitFor(Predicate predicate) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, predicate);
    }
};

struct Event {
    kx::platform::EventHandle handle = kx::platform::CreateEventObject(false, false);
    ~Event() { kx::platform::CloseEventObject(handle); }
};

}  // namespace

TEST(WorkerThreadTest, SignalsDuringARunCoalesceIntoOneFurtherRun) {
    GatedCounter counter;
    Event event;
    CWorkerThread worker;
    ASSERT_TRUE(worker.AddWaitHandle(event.handle, &GatedCounter::Callback, &counter));
    worker.Start(kx::platform::kThreadPriorityBelowNormal);
    counter.gateOpen = false;
    kx::platform::SetEventObject(event.handle);
    ASSERT_TRUE(counter.WaitFor([&] { return counter.inside; }));
    kx::platform::SetEventObject(event.handle);
    kx::platform::SetEventObject(event.handle);
    {
        std::lock_guard<std::mutex> lock(counter.mutex);
        counter.gateOpen = true;
    }
    counter.changed.notify_all();
    ASSERT_TRUE(counter.WaitFor([&] { return counter.runs == 2; }));
    uint32_t workerId = worker.GetThreadId();
    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(counter.runs, 2);
    EXPECT_EQ(counter.threadId, workerId);
    EXPECT_NE(counter.threadId, kx::platform::GetCurrentThreadIdentifier());
}

TEST(WorkerThreadTest, EachEventRunsItsOwnCallback) {
    GatedCounter first;
    GatedCounter second;
    Event a;
    Event b;
    CWorkerThread worker;
    worker.AddWaitHandle(a.handle, &GatedCounter::Callback, &first);
    worker.AddWaitHandle(b.handle, &GatedCounter::Callback, &second);
    worker.Start(kx::platform::kThreadPriorityNormal);
    kx::platform::SetEventObject(b.handle);
    ASSERT_TRUE(second.WaitFor([&] { return second.runs == 1; }));
    kx::platform::SetEventObject(a.handle);
    ASSERT_TRUE(first.WaitFor([&] { return first.runs == 1; }));
    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(first.runs, 1);
    EXPECT_EQ(second.runs, 1);
}

TEST(WorkerThreadTest, StopOfANeverStartedWorkerReturnsAtOnce) {
    Event event;
    CWorkerThread worker;
    worker.AddWaitHandle(event.handle, &GatedCounter::Callback, nullptr);
    EXPECT_TRUE(worker.Stop());
    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(worker.GetThreadId(), 0u);
}

// A forced end logs a warning; an empty log shows the stop needed no force.
TEST(WorkerThreadTest, StopOfAnIdleWorkerEndsItWithoutForce) {
    CTempDirectory dir;
    kx::platform::SetExecutablePathForTesting(dir.Join(L"agent.exe"));
    ASSERT_TRUE(InitDiagnosticLog(kLogWarning));
    GatedCounter counter;
    Event event;
    CWorkerThread worker;
    worker.AddWaitHandle(event.handle, &GatedCounter::Callback, &counter);
    worker.Start(kx::platform::kThreadPriorityBelowNormal);
    EXPECT_NE(worker.GetThreadId(), 0u);
    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(worker.GetThreadId(), 0u);
    EXPECT_EQ(counter.runs, 0);
    EXPECT_TRUE(worker.Stop());
    CloseDiagnosticLog();
    kx::platform::SetExecutablePathForTesting(L"");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "BWAgentSvc.log"));
}

TEST(WorkerThreadTest, WaitListIsLimitedToSixtyFourHandles) {
    CWorkerThread worker;
    std::vector<Event> events(64);
    int accepted = 0;
    for (Event& event : events)
        accepted += worker.AddWaitHandle(event.handle, &GatedCounter::Callback, nullptr);
    EXPECT_EQ(accepted, 63);  // the stop event takes the first place
}

TEST(WorkerThreadTest, WaitReportsTheLowestSignalledIndexAndTimesOut) {
    Event a;
    Event b;
    kx::platform::EventHandle both[] = {a.handle, b.handle};
    kx::platform::SetEventObject(b.handle);
    kx::platform::SetEventObject(a.handle);
    EXPECT_EQ(kx::platform::WaitForAnyEvent(both, 2, 0), 0u);
    EXPECT_EQ(kx::platform::WaitForAnyEvent(both, 2, 0), 1u);
    EXPECT_EQ(kx::platform::WaitForAnyEvent(both, 2, 0), kx::platform::kWaitTimeout);
}
