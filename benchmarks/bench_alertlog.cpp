// The alert log's throughput: AddItem while a flush writes, items written per
// second by FlushToCache, and alerts per second from cache files through the
// alert document and the POST to a local sink that answers at once, for files
// of 1, 100 and 10,000 items. `bench_alertlog --drain-backlog` instead writes
// a 100 MiB backlog of cache files and reports the peak RSS of draining it.
// Items are the size of a real account event: a 1,500-character message and
// five properties.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "LocalHttpSink.h"
#include "alertlog/CacheFileWriter.h"
#include "alertlog/XMLAlertLog.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "platform/Process.h"

namespace {

class CBenchAlertLog : public CXMLAlertLog {
public:
    CBenchAlertLog() : CXMLAlertLog(Workers::NotStarted) {}
};

// A machine root and an executable folder of the benchmark's own, its policy
// pointing at the sink.
class CBenchMachine {
public:
    CBenchMachine() : root_(std::filesystem::temp_directory_path() / "kx-bench-alertlog") {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "agent");
        setenv("KX_MACHINE_ROOT", (root_ / "machine").c_str(), 1);
        kx::platform::SetExecutablePathForTesting(
            kx::Utf8ToWide((root_ / "agent" / "KXWkstnSvc.exe").string()));
        CRegistryKey key;
        key.SetRoot(kx::platform::kHkeyLocalMachine);
        key.Open(kPolicySettingsKey, true);
        key.WriteString(L"KFSServer", L"127.0.0.1");
        key.WriteString(L"KFSPort", std::to_wstring(sink_.Port()));
    }
    ~CBenchMachine() { std::filesystem::remove_all(root_); }
    std::filesystem::path Folder() const { return root_ / "agent"; }
    void RemoveCacheFiles() const {
        for (const auto& entry : std::filesystem::directory_iterator(Folder()))
            if (entry.path().filename().string().rfind("KX_", 0) == 0)
                std::filesystem::remove(entry.path());
    }
    const CLocalHttpSink& Sink() const { return sink_; }

private:
    std::filesystem::path root_;
    CLocalHttpSink sink_;
};

CBenchMachine& Machine() {
    static CBenchMachine machine;
    return machine;
}

std::unique_ptr<CXMLAlertLogItem> AccountEventItem(int number) {
    auto item = std::make_unique<CXMLAlertLogItem>();
    item->ComputerName = L"WS-0042";
    item->ComputerDomain = L"corp.example.test";
    item->AccountSID = L"S-1-5-21-1004336348-1177238915-682003330-1104";
    item->AccountName = L"CORP\\jmueller";
    item->EventDefinitionCode = L"KX4720";
    item->ActionText =
        L"User account CORP\\jmueller created by CORP\\admin #" + std::to_wstring(number);
    item->TimeGenerated = 1721038830 + number;
    item->EventDump = L"A user account was created.\r\n\r\nSubject:\r\n\tSecurity ID:\tS-1-5-21-1";
    item->EventDump.resize(1500, L'.');
    for (const wchar_t* code :
         {L"TARGETACCOUNT", L"TARGETSID", L"SUBJECTACCOUNT", L"SUBJECTSID", L"PRIVILEGES"})
        item->AddProperty(code, L"CORP\\jmueller S-1-5-21-1004336348-1177238915");
    return item;
}

// One cache file of count items, written directly.
std::wstring WriteCacheFile(int count, int serial) {
    CCacheFileWriter writer;
    writer.WriteUInt32(static_cast<uint32_t>(count));
    for (int i = 0; i < count; ++i) AccountEventItem(i)->WriteItem(writer);
    const std::filesystem::path path =
        Machine().Folder() / ("KX_" + std::to_string(serial) + ".tmp");
    std::ofstream(path, std::ios::binary) << writer.Bytes();
    return kx::Utf8ToWide(path.string());
}

void BM_AddItemWhileFlushing(benchmark::State& state) {
    Machine();
    CBenchAlertLog log;
    std::atomic<bool> done{false};
    // Flushes far more often than the worker's 5 seconds, so that many
    // fall within the measurement.
    std::thread flusher([&] {
        while (!done) {
            log.FlushToCache();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    constexpr int kBatch = 4096;
    std::vector<std::unique_ptr<CXMLAlertLogItem>> items;
    int next = kBatch;
    for (auto _ : state) {
        if (next == kBatch) {
            state.PauseTiming();
            items.clear();
            for (int i = 0; i < kBatch; ++i) items.push_back(AccountEventItem(i));
            next = 0;
            state.ResumeTiming();
        }
        log.AddItem(std::move(items[next++]));
    }
    done = true;
    flusher.join();
    Machine().RemoveCacheFiles();
}
BENCHMARK(BM_AddItemWhileFlushing)->Iterations(200000)->UseRealTime();

void BM_FlushToCache(benchmark::State& state) {
    Machine();
    CBenchAlertLog log;
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Machine().RemoveCacheFiles();
        for (int i = 0; i < count; ++i) log.AddItem(AccountEventItem(i));
        state.ResumeTiming();
        log.FlushToCache();
    }
    state.SetItemsProcessed(state.iterations() * count);
    Machine().RemoveCacheFiles();
}
BENCHMARK(BM_FlushToCache)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SendCacheFile(benchmark::State& state) {
    Machine();
    CBenchAlertLog log;
    const int count = static_cast<int>(state.range(0));
    const uint64_t before = Machine().Sink().Requests();
    int serial = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::wstring path = WriteCacheFile(count, ++serial);
        state.ResumeTiming();
        log.SendCacheFile(path);
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["posts"] = static_cast<double>(Machine().Sink().Requests() - before);
    Machine().RemoveCacheFiles();
}
BENCHMARK(BM_SendCacheFile)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

std::string StatusValue(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name, 0) == 0) return line.substr(std::strlen(name));
    return "?";
}

// A 100 MiB backlog as the flush writes it (files of at most a 1 MiB
// document), then one sweep that drains it, with the peak RSS of the sweep.
int DrainBacklog() {
    Machine();
    CBenchAlertLog log;
    uint64_t bytes = 0;
    int items = 0;
    int files = 0;
    while (bytes < 100ull * 1024 * 1024) {
        const std::size_t perFile =
            CXMLAlertLog::kMaxDocumentBytes / AccountEventItem(0)->DocumentBytes();
        for (std::size_t i = 0; i < perFile; ++i) log.AddItem(AccountEventItem(items++));
        log.FlushToCache();
        files = 0;
        bytes = 0;
        for (const auto& entry : std::filesystem::directory_iterator(Machine().Folder()))
            if (entry.path().filename().string().rfind("KX_", 0) == 0) {
                bytes += entry.file_size();
                ++files;
            }
    }
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
    std::printf("backlog: %d files, %llu bytes, %d alerts; RSS before the drain:%s\n", files,
                static_cast<unsigned long long>(bytes), items, StatusValue("VmRSS:").c_str());
    const auto start = std::chrono::steady_clock::now();
    log.SendCacheFiles();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("drained in %.2f s (%.0f alerts/s), %llu posts; peak RSS while draining:%s\n",
                seconds, items / seconds,
                static_cast<unsigned long long>(Machine().Sink().Requests()),
                StatusValue("VmHWM:").c_str());
    Machine().RemoveCacheFiles();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--drain-backlog") == 0) return DrainBacklog();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
