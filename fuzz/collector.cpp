// The collector's record walk: the input is what one sequential read of
// the log hands back. The collector runs on its worker over an in-memory
// log on a manual clock, and every record it delivers becomes a
// CEventLogEntry read whole, as the pipeline's handler reads it.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "FakeDirectory.h"
#include "FakeEventLog.h"
#include "FuzzMachine.h"
#include "FuzzRecord.h"
#include "FuzzText.h"
#include "common/ManualClock.h"
#include "platform/Process.h"

namespace {

constexpr uint32_t kNow = 1700000000;  // the manual clock's UTC seconds

// Holds the worker at its first sleep once the log has been polled twice
// after the injected read, until the stopping thread's own sleep releases it.
class CRun {
public:
    explicit CRun(CFakeEventLog& log) : log_(log) {}

    void OnSleep(uint32_t) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (kx::platform::GetCurrentThreadIdentifier() == stopper_) {
            released_ = true;
            changed_.notify_all();
            return;
        }
        if (!blocked_ && log_.OpenCount() >= 3) {
            blocked_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        }
    }
    void WaitUntilBlocked() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return blocked_; });
    }

    static int OnRecord(const void* record, void* self) {
        auto* run = static_cast<CRun*>(self);
        const CEventLogRecord view = CEventLogRecord::FromDeliveredRecord(record);
        KX_FUZZ_CHECK(view.IsValid());
        CEventLogEntry entry(L"WS01", L"corp.example.test", L"Security", record, false,
                             run->lookups_);
        kx::fuzz::ReadWholeEntry(entry);
        return 1;
    }

private:
    CFakeEventLog& log_;
    CLookupCache lookups_;
    const uint32_t stopper_ = kx::platform::GetCurrentThreadIdentifier();
    std::mutex mutex_;
    std::condition_variable changed_;
    bool blocked_ = false;
    bool released_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::fuzz::FuzzMachineFolder();
    CFakeDirectory directory;  // per input: it writes down every request
    static CManualClock clock;
    static CScopedClock installed{clock};
    CFakeEventLog log;
    log.AddRecord(kNow);  // the starting record
    log.InjectSequentialBytes(std::vector<uint8_t>(data, data + size));
    CRun run(log);
    clock.SetSleepHook([&run](uint32_t milliseconds) { run.OnSleep(milliseconds); });
    {
        CEventLogCollector collector(log);
        collector.SetCollectionParameters(L"WS01", L"Security", 1, 14, &CRun::OnRecord, nullptr,
                                          &run);
        collector.BeginCollecting();
        run.WaitUntilBlocked();
        collector.StopCollecting();
    }
    clock.SetSleepHook(nullptr);
    return 0;
}
