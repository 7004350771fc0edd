// Records per second through the collector's read path (open, positioned
// read of the starting record, sequential reads of 0x7FFFF bytes, the walk
// and DoCallback) from a Linux log file of 100,000 records, to a callback that
// does nothing. A manual clock stands in for the real one, so the throttle's
// and the polls' pauses cost nothing: what is measured is the reading.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogRecord.h"
#include "common/ManualClock.h"
#include "common/Text.h"
#include "platform/EventLog.h"
#include "platform/MachineRoot.h"

namespace {

constexpr uint32_t kRecords = 100000;

// A log like a Security log: 4624 records with 21 insertion strings.
class BenchmarkLog {
public:
    BenchmarkLog() {
        root_ = std::filesystem::temp_directory_path() / "kx-bench-collector";
        std::filesystem::remove_all(root_);
        kx::platform::SetMachineRootForTesting(kx::Utf8ToWide(root_.string()));
        EventLogRecordFields fields;
        fields.timeGenerated = fields.timeWritten = 1700000000;
        fields.eventId = 4624;
        fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
        fields.eventCategory = 12544;
        fields.sourceName = L"Microsoft-Windows-Security-Auditing";
        fields.computerName = L"WS01.example.org";
        for (int i = 0; i < 21; ++i) fields.strings.push_back(L"S-1-5-21-4230534742-1111");
        std::vector<std::vector<uint8_t>> records(kRecords, BuildEventLogRecord(fields));
        kx::platform::AppendEventLogRecords(L"Security", records, nullptr);
    }
    ~BenchmarkLog() {
        kx::platform::SetMachineRootForTesting(L"");
        std::filesystem::remove_all(root_);
    }

private:
    std::filesystem::path root_;
};

struct Counter {
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<uint32_t> count{0};

    static int OnRecord(const void*, void* self) {
        auto* counter = static_cast<Counter*>(self);
        if (++counter->count == kRecords) {
            std::lock_guard<std::mutex> lock(counter->mutex);
            counter->done.notify_all();
        }
        return 1;
    }
};

void BM_CollectorReadsTheWholeLog(benchmark::State& state) {
    BenchmarkLog log;
    CManualClock clock;
    CScopedClock installed(clock);
    for (auto _ : state) {
        Counter counter;
        CEventLogCollector collector;
        collector.SetCollectionParameters(nullptr, L"Security", 1, 14, &Counter::OnRecord, nullptr,
                                          &counter);
        collector.BeginCollecting();
        {
            std::unique_lock<std::mutex> lock(counter.mutex);
            counter.done.wait(lock, [&] { return counter.count >= kRecords; });
        }
        collector.StopCollecting();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_CollectorReadsTheWholeLog)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
