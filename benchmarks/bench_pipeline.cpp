// The event pipeline on a machine root of its own, its alerts posted to a
// local sink:
//   BM_UnwantedRecord   ProcessEventRecord for a record no definition wants,
//                       with the heap allocations it makes per record
//   BM_MatchingRecord   ProcessEventRecord for a 4720 that the realistic
//                       definitions select (item built and queued)
//   BM_LogToSink        records in the Security log read by the collector
//                       (throttle on), matched, written to cache files and
//                       posted, until nothing is held: alerts per second
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <thread>

#include "BaseClasses/EventLogRecord.h"
#include "BenchMachine.h"
#include "CountingAllocator.h"
#include "LocalHttpSink.h"
#include "alertlog/XMLAlertLog.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/EventLog.h"
#include "platform/Process.h"
#include "service/AuditPipeline.h"

namespace {

class CBenchPipeline : public CAuditPipeline {
public:
    explicit CBenchPipeline(bool beginCollecting)
        : CAuditPipeline(std::make_unique<CXMLAlertLog>(), kx::platform::GetEventLog(),
                         beginCollecting) {}
    using CAuditPipeline::AlertLog;
};

CBenchMachine& Machine() {
    static CBenchMachine machine("kx-bench-pipeline");
    return machine;
}

EventLogRecordFields Fields(uint32_t eventId) {
    EventLogRecordFields fields;
    fields.timeGenerated = fields.timeWritten = static_cast<uint32_t>(std::time(nullptr));
    fields.eventId = eventId;
    fields.eventType = 8;
    fields.sourceName = L"Microsoft-Windows-Security-Auditing";
    fields.computerName = L"WS-0042";
    fields.strings = {L"jane",     L"CORP",    L"S-1-5-21-1-2-3-1001",
                      L"S-1-5-18", L"SYSTEM",  L"NT AUTHORITY",
                      L"0x3e7",    L"-",       L"jane",
                      L"-",        L"Jane Doe"};
    return fields;
}

void BM_UnwantedRecord(benchmark::State& state) {
    Machine();
    CBenchPipeline pipeline(false);
    EventLogRecordFields fields = Fields(4624);
    fields.recordNumber = 1;
    const std::vector<uint8_t> bytes = BuildEventLogRecord(fields);
    pipeline.ProcessEventRecord(bytes.data());  // the first record's save
    const uint64_t before = AllocationCount();
    for (auto _ : state) benchmark::DoNotOptimize(pipeline.ProcessEventRecord(bytes.data()));
    state.counters["allocations/record"] = benchmark::Counter(
        static_cast<double>(AllocationCount() - before) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnwantedRecord);

void BM_MatchingRecord(benchmark::State& state) {
    Machine();
    CBenchPipeline pipeline(false);
    EventLogRecordFields fields = Fields(4720);
    uint32_t number = 1;
    for (auto _ : state) {
        fields.recordNumber = number++;
        const std::vector<uint8_t> bytes = BuildEventLogRecord(fields);
        benchmark::DoNotOptimize(pipeline.ProcessEventRecord(bytes.data()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MatchingRecord);

void ClearSecurityLog() {
    kx::platform::IEventLog& log = kx::platform::GetEventLog();
    kx::platform::EventLogHandle handle = log.Open(nullptr, L"Security");
    if (handle) {
        log.Clear(handle);
        log.Close(handle);
    }
}

void BM_LogToSink(benchmark::State& state) {
    Machine();
    const auto count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        ClearSecurityLog();
        std::vector<std::vector<uint8_t>> records;
        for (uint32_t i = 0; i < count; ++i) records.push_back(BuildEventLogRecord(Fields(4720)));
        uint32_t first = 0;
        kx::platform::AppendEventLogRecords(L"Security", records, &first);
        SetLastEventLogRecordNumber(first - 1);
        state.ResumeTiming();
        CBenchPipeline pipeline(true);
        // Done when every record is past and nothing is held or cached.
        uint64_t cached = 0;
        while (GetLastEventLogRecordNumber() < first + count - 1 ||
               !pipeline.AlertLog().ListCacheFiles(&cached).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LogToSink)
    ->Arg(20000)
    ->Arg(200000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
