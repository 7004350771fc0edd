// Cost of one logging call on the caller's thread: at a threshold that
// writes (the line is formatted and queued) and at one that filters.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "BaseClasses/LogData.h"
#include "platform/Process.h"

namespace {

constexpr const wchar_t* kSource = L"..\\benchmarks\\bench_logging.cpp";

class LogFolder {
public:
    LogFolder() {
        path_ = std::filesystem::temp_directory_path() / "kx-bench-logging";
        std::filesystem::create_directories(path_);
        kx::platform::SetExecutablePathForTesting((path_ / "agent").wstring());
    }
    ~LogFolder() {
        kx::platform::SetExecutablePathForTesting(L"");
        std::filesystem::remove_all(path_);
    }

private:
    std::filesystem::path path_;
};

void BM_LogCallThatWrites(benchmark::State& state) {
    LogFolder folder;
    InitDiagnosticLog(kLogInformation);
    uint32_t recordNumber = 0;
    for (auto _ : state) {
        LogMessage(kSource, __LINE__, kLogInformation, L"Collecting: Starting Record Number: %d",
                   ++recordNumber);
    }
    CloseDiagnosticLog();  // waits for the writer, outside the timed loop
}
BENCHMARK(BM_LogCallThatWrites);

void BM_LogCallThatIsFiltered(benchmark::State& state) {
    LogFolder folder;
    InitDiagnosticLog(kLogError);
    uint32_t recordNumber = 0;
    for (auto _ : state) {
        LogMessage(kSource, __LINE__, kLogInformation, L"Collecting: Starting Record Number: %d",
                   ++recordNumber);
    }
    CloseDiagnosticLog();
}
BENCHMARK(BM_LogCallThatIsFiltered);

void BM_TracedScopeWhenTracingIsOff(benchmark::State& state) {
    LogFolder folder;
    InitDiagnosticLog(kLogWarning);
    for (auto _ : state) {
        CLogData trace(kSource, __LINE__, L"CEventLogCollector::DoCallback");
        trace.MarkNormalExit(__LINE__);
    }
    CloseDiagnosticLog();
}
BENCHMARK(BM_TracedScopeWhenTracingIsOff);

}  // namespace

BENCHMARK_MAIN();
