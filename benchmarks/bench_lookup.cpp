// Message texts of records through the lookup cache on the Linux ports: a
// 4624 logon of one registered source, again and again (the cached path the
// agent takes for every record after the first of its kind), and the same
// message with a cache of its own each time (the registry reads, the file
// load and the parameter lookup of a first record). The message files come
// from tests/data/messages of the same build, registered as an installer
// registers them below %SystemRoot%.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "LogonInserts.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"

namespace {

namespace reg = kx::platform;

constexpr const wchar_t* kSource = L"KxBenchSource";

std::filesystem::path BuiltMessageFile(const char* name) {
    std::filesystem::path build = kx::WideToUtf8(reg::GetExecutablePath());
    return build.parent_path().parent_path() / "tests" / "data" / "messages" / name;
}

void WriteMachineValue(const std::wstring& subkey, const std::wstring& name,
                       const std::wstring& value) {
    CRegistryKey key;
    key.SetRoot(reg::kHkeyLocalMachine);
    key.Open(subkey, true);
    key.WriteString(name, value);
}

class Machine {
public:
    Machine() {
        // A folder of this run's own: two runs at once must not share a registry.
        path_ = std::filesystem::temp_directory_path() /
                ("kx-bench-lookup-" + std::to_string(reg::GetCurrentThreadIdentifier()));
        std::filesystem::remove_all(path_);
        const std::filesystem::path system32 = path_ / "drive_c" / "Windows" / "System32";
        std::filesystem::create_directories(system32);
        for (const char* file : {"kx_event_messages.dll", "kx_parameter_messages.dll"})
            std::filesystem::copy_file(BuiltMessageFile(file), system32 / file);
        reg::SetMachineRootForTesting(kx::Utf8ToWide(path_.string()));
        WriteMachineValue(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"SystemRoot",
                          L"C:\\Windows");
        const std::wstring source =
            std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Security\\") + kSource;
        WriteMachineValue(source, L"EventMessageFile",
                          L"%SystemRoot%\\System32\\kx_event_messages.dll");
        WriteMachineValue(source, L"ParameterMessageFile",
                          L"%SystemRoot%\\System32\\kx_parameter_messages.dll");
    }
    ~Machine() {
        reg::SetMachineRootForTesting(L"");
        std::filesystem::remove_all(path_);
    }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> LogonRecord() {
    EventLogRecordFields fields;
    fields.eventId = 4624;
    fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
    fields.sourceName = kSource;
    fields.computerName = L"WKS01.corp.example";
    fields.strings = LogonInserts();
    fields.strings[8] = L"%%1833";  // the logon type as a parameter reference
    return BuildEventLogRecord(fields);
}

std::wstring MessageText(CLookupCache& cache, const std::vector<uint8_t>& record) {
    CEventLogEntry entry(cache.LocalComputerName(), L"corp.example", L"Security", record.data(),
                         false, cache);
    return entry.GetMessageText();
}

void BM_MessageTextCached(benchmark::State& state) {
    Machine machine;
    CLookupCache cache;
    const std::vector<uint8_t> record = LogonRecord();
    if (MessageText(cache, record).rfind(L"An account was", 0) != 0)
        return state.SkipWithError("the message file was not found");
    for (auto _ : state) {
        std::wstring text = MessageText(cache, record);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MessageTextCached);

void BM_MessageTextFirstLookup(benchmark::State& state) {
    Machine machine;
    const std::vector<uint8_t> record = LogonRecord();
    for (auto _ : state) {
        CLookupCache cache;
        std::wstring text = MessageText(cache, record);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MessageTextFirstLookup);

}  // namespace

BENCHMARK_MAIN();
