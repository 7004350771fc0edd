// Reads and writes of a DWORD setting through the settings functions on the
// Linux registry: the enable switch as the per-record callback reads it, and
// the record number as the handler persists it. Each runs against a registry
// file that holds only the agent's keys and against one with 1,000 other keys
// (service database, event sources and the like live in the same file).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "common/RegFile.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "platform/MachineRoot.h"
#include "platform/Registry.h"

namespace {

namespace reg = kx::platform;

class Machine {
public:
    explicit Machine(int otherKeys) {
        path_ = std::filesystem::temp_directory_path() / "kx-bench-settings";
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        reg::SetMachineRootForTesting(kx::Utf8ToWide(path_.string()));
        for (int i = 0; i < otherKeys; ++i) AddOtherKey(i);
        SetLastEventLogRecordNumber(1);
        GetEnableWorkstationAuditAgent();
    }
    ~Machine() {
        reg::SetMachineRootForTesting(L"");
        std::filesystem::remove_all(path_);
    }
    std::filesystem::path File() const { return path_ / "Registry" / "HKEY_LOCAL_MACHINE.reg"; }

private:
    static void AddOtherKey(int i) {
        reg::RegistryKeyHandle key = 0;
        std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\Service" + std::to_wstring(i);
        reg::RegistryCreateKey(reg::kHkeyLocalMachine, path, reg::kKeyAllAccess, &key);
        std::string file = kx::RegStringData(L"%SystemRoot%\\System32\\service.dll");
        reg::RegistrySetValue(key, L"ImagePath", reg::kRegExpandSz, file.data(),
                              static_cast<uint32_t>(file.size()));
        reg::RegistryCloseKey(key);
    }

    std::filesystem::path path_;
};

void BM_ReadEnableSwitch(benchmark::State& state) {
    Machine machine(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(GetEnableWorkstationAuditAgent());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadEnableSwitch)->Arg(0)->Arg(1000);

void BM_WriteRecordNumber(benchmark::State& state) {
    Machine machine(static_cast<int>(state.range(0)));
    uint32_t recordNumber = 1;
    for (auto _ : state) SetLastEventLogRecordNumber(++recordNumber);
    // The settings functions drop failed writes silently; a benchmark must not.
    if (GetLastEventLogRecordNumber() != recordNumber) state.SkipWithError("writes were lost");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteRecordNumber)->Arg(0)->Arg(1000)->UseRealTime();

// A read right after another process replaced the file: the file is parsed again.
void BM_ReadAfterAnotherProcessWrote(benchmark::State& state) {
    Machine machine(static_cast<int>(state.range(0)));
    std::filesystem::path copy = machine.File();
    copy += ".copy";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::copy_file(machine.File(), copy);
        std::filesystem::rename(copy, machine.File());
        state.ResumeTiming();
        benchmark::DoNotOptimize(GetEnableWorkstationAuditAgent());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadAfterAnotherProcessWrote)->Arg(0)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
