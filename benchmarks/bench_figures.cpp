// The agent's figures that scripts/figures.sh prints, one mode per figure:
//
//   bench_figures alerts COUNT [--throttle]
//       COUNT selected records (4720, the realistic definitions) in the
//       Security log, read by the pipeline's own collector, matched, built,
//       queued, written to cache files and posted to a local sink: alerts
//       per second from the start of collecting until the last is posted.
//       The alert log's two workers are driven here without their waits: the
//       flush writes whatever is queued at every 100 ms round of its loop
//       (the 5-second rule left out), and sweeps follow one another (the
//       10-second rule left out). The collector's throttle is off unless
//       --throttle.
//   bench_figures unwanted COUNT
//       COUNT records no definition wants (4624), read by a collector without
//       throttle and handed to the pipeline's record callback: records per
//       second.
//   bench_figures fill COUNT
//       appends COUNT selected records to the Security log of KX_MACHINE_ROOT
//       (the backlog of the agent's peak-memory run).
//   bench_figures sink PORT_FILE
//       a local HTTP sink that answers at once, its port written to the file,
//       until SIGTERM or SIGINT.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogRecord.h"
#include "BenchMachine.h"
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

using Clock = std::chrono::steady_clock;

class CDrivenAlertLog : public CXMLAlertLog {
public:
    CDrivenAlertLog() : CXMLAlertLog(Workers::NotStarted) {}
};

class CFiguresPipeline : public CAuditPipeline {
public:
    explicit CFiguresPipeline(std::unique_ptr<CXMLAlertLog> alertLog)
        : CAuditPipeline(std::move(alertLog), kx::platform::GetEventLog(), false) {}
    using CAuditPipeline::AlertLog;
    using CAuditPipeline::Collector;
};

// A record as a workstation logs it: an account created (4720, selected) or
// a logon (4624, wanted by no definition).
std::vector<uint8_t> Record(uint32_t eventId) {
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
    return BuildEventLogRecord(fields);
}

// The first record number appended.
uint32_t AppendRecords(uint32_t eventId, uint32_t count) {
    const std::vector<uint8_t> record = Record(eventId);
    uint32_t first = 0;
    for (uint32_t done = 0; done < count;) {
        const uint32_t batch = std::min<uint32_t>(count - done, 10000);
        std::vector<std::vector<uint8_t>> records(batch, record);
        uint32_t batchFirst = 0;
        if (!kx::platform::AppendEventLogRecords(L"Security", records, &batchFirst)) return 0;
        if (done == 0) first = batchFirst;
        done += batch;
    }
    return first;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

int Alerts(uint32_t count, bool throttle) {
    CBenchMachine machine("figures-bench");
    const uint32_t first = AppendRecords(4720, count);
    if (first == 0) return 1;
    SetLastEventLogRecordNumber(first - 1);
    auto owned = std::make_unique<CDrivenAlertLog>();
    CXMLAlertLog& log = *owned;
    CFiguresPipeline pipeline(std::move(owned));
    if (!throttle) pipeline.Collector().SetThrottle(0, 0);
    std::atomic<bool> done{false};
    // The flush loop's own 100 ms round, without its 5-second rule: what is
    // queued is written at every round.
    std::thread flusher([&] {
        while (!done) {
            log.FlushToCache();
            std::this_thread::sleep_for(
                std::chrono::milliseconds(CXMLAlertLog::kLoopSleepMilliseconds));
        }
    });
    // Sweeps back to back, but a sweep that sent nothing (the folder empty,
    // or holding only the file that the flush still writes) waits a
    // millisecond instead of meeting that file again at once.
    std::thread sender([&] {
        while (!done) {
            const uint64_t posts = machine.Sink().Requests();
            log.SendCacheFiles();
            if (machine.Sink().Requests() == posts)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto start = Clock::now();
    pipeline.Collector().BeginCollecting();
    const uint32_t last = first + count - 1;
    uint64_t total = 0;
    while (GetLastEventLogRecordNumber() < last || log.QueuedItems() != 0 ||
           !log.ListCacheFiles(&total).empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double seconds = Seconds(start);
    done = true;
    flusher.join();
    sender.join();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%u alerts in %.2f s: %.0f alerts/s (%llu posts, %.1f MB posted; peak RSS %ld kB)\n", count,
        seconds, count / seconds, static_cast<unsigned long long>(machine.Sink().Requests()),
        static_cast<double>(machine.Sink().BodyBytes()) / 1e6, usage.ru_maxrss);
    return 0;
}

struct UnwantedCounter {
    CAuditPipeline* pipeline;
    std::atomic<uint32_t> seen{0};
    static int OnRecord(const void* record, void* self) {
        auto* counter = static_cast<UnwantedCounter*>(self);
        ++counter->seen;
        return CAuditPipeline::OnEventRecord(record, counter->pipeline);
    }
};

int Unwanted(uint32_t count) {
    CBenchMachine machine("figures-bench");
    if (AppendRecords(4624, count) == 0) return 1;
    CFiguresPipeline pipeline(std::make_unique<CDrivenAlertLog>());
    UnwantedCounter counter{&pipeline};
    CEventLogCollector collector;
    collector.SetThrottle(0, 0);
    collector.SetCollectionParameters(nullptr, L"Security", 1, 14, &UnwantedCounter::OnRecord,
                                      nullptr, &counter);
    const auto start = Clock::now();
    collector.BeginCollecting();
    while (counter.seen < count) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = Seconds(start);
    collector.StopCollecting();
    std::printf("%u records in %.3f s: %.0f records/s\n", count, seconds, count / seconds);
    return 0;
}

volatile std::sig_atomic_t stopSink = 0;

int Sink(const char* portFile) {
    CLocalHttpSink sink;
    if (!sink.Listening()) return 1;
    std::signal(SIGTERM, [](int) { stopSink = 1; });
    std::signal(SIGINT, [](int) { stopSink = 1; });
    {
        std::ofstream out(portFile);
        out << sink.Port() << "\n";
    }
    while (!stopSink) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("sink: %llu requests, %.1f MB\n", static_cast<unsigned long long>(sink.Requests()),
                static_cast<double>(sink.BodyBytes()) / 1e6);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_figures alerts COUNT [--throttle] | unwanted COUNT | fill COUNT | "
                 "sink PORT_FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    const auto count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    if (mode == "alerts") return Alerts(count, argc > 3 && std::strcmp(argv[3], "--throttle") == 0);
    if (mode == "unwanted") return Unwanted(count);
    if (mode == "fill") return AppendRecords(4720, count) == 0 ? 1 : 0;
    if (mode == "sink") return Sink(argv[2]);
    return Usage();
}
