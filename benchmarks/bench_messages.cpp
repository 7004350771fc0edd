// Messages formatted per second from a loaded message file through the
// message port (the Linux PE reader and formatter): the 20-insert logon
// message, a parameter text, and the cost of loading a file. The message
// files come from tests/data/messages of the same build.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "LogonInserts.h"
#include "platform/Files.h"
#include "platform/MessageResources.h"
#include "platform/Process.h"

namespace {

std::wstring MessageFile(const std::wstring& name) {
    std::wstring folder = kx::platform::GetExecutablePath();
    for (int up = 0; up < 2; ++up) folder.erase(folder.find_last_of(L"\\/"));
    return folder + L"/tests/data/messages/" + name;
}

class LoadedModule {
public:
    explicit LoadedModule(const std::wstring& name)
        : module_(kx::platform::LoadMessageModule(MessageFile(name))) {}
    ~LoadedModule() { kx::platform::FreeMessageModule(module_); }
    kx::platform::MessageModuleHandle get() const { return module_; }

private:
    kx::platform::MessageModuleHandle module_;
};

void BM_FormatLogonMessage(benchmark::State& state) {
    LoadedModule module(L"kx_event_messages.dll");
    if (!module.get()) return state.SkipWithError("kx_event_messages.dll is not built");
    const std::vector<std::wstring> inserts = LogonInserts();
    std::wstring text;
    for (auto _ : state) {
        kx::platform::FormatModuleMessage(module.get(), 4624, kx::InsertHandling::Replace, inserts,
                                          text);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatLogonMessage);

void BM_FormatParameterText(benchmark::State& state) {
    LoadedModule module(L"kx_parameter_messages.dll");
    if (!module.get()) return state.SkipWithError("kx_parameter_messages.dll is not built");
    std::wstring text;
    for (auto _ : state) {
        kx::platform::FormatModuleMessage(module.get(), 1833, kx::InsertHandling::Ignore, {}, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatParameterText);

void BM_LoadAndFreeMessageFile(benchmark::State& state) {
    const std::wstring path = MessageFile(L"kx_event_messages.dll");
    if (!kx::platform::FileExists(path)) return state.SkipWithError("message file is not built");
    for (auto _ : state) {
        kx::platform::MessageModuleHandle module = kx::platform::LoadMessageModule(path);
        benchmark::DoNotOptimize(module);
        kx::platform::FreeMessageModule(module);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadAndFreeMessageFile);

}  // namespace

BENCHMARK_MAIN();
