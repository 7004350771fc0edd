// Directory lookups against the Samba domain controller of the test fixture
// (tools/sambadc/sambadc.py; KX_SAMBA_FACTS names its facts file):
//   GuidToName of a schema GUID (from the cache) and of a live user (a
//   translation every time); FindCreatedObject in a domain with as many
//   objects as "sambadc.py bulk --count N" made; one lookup against a
//   server that accepts connections and never answers (KX_BENCH_DEAD_PORT:
//   a socket that listens and never accepts), with the configured time-outs,
//   and the lookups that follow within the skip window.
// KX_BENCH_NO_TIMEOUTS=1 switches the time-outs off (the lookup then waits
// as long as the server keeps silent: run it under "timeout").
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BaseClasses/LookupCache.h"
#include "SambaFacts.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "platform/MachineRoot.h"

namespace {

constexpr wchar_t kDirectory[] = L"SOFTWARE\\Brenwick Corporation\\Korvex\\Directory";

void Configure(const std::wstring& server, const std::wstring& uri, const CSambaFacts& facts) {
    CRegistryKey key;
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    key.Open(std::wstring(kDirectory) + L"\\Servers\\" + server, true);
    key.WriteString(L"Uri", uri);
    key.WriteString(L"Authentication", L"Simple");
    key.WriteString(L"User", facts["user"]);
    key.WriteString(L"PasswordFile", facts["passwordFile"]);
}

struct Setup {
    Setup() {
        root = std::filesystem::temp_directory_path() / "kx-bench-directory";
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
        kx::platform::SetMachineRootForTesting(kx::Utf8ToWide(root.string()));
        if (!facts.Available()) return;
        server = facts["server"];
        Configure(server, facts["uri"], facts);
        if (const char* port = std::getenv("KX_BENCH_DEAD_PORT"))
            Configure(L"dead", L"ldap://127.0.0.1:" + kx::Utf8ToWide(port), facts);
        if (std::getenv("KX_BENCH_NO_TIMEOUTS")) {
            CRegistryKey key;
            key.SetRoot(kx::platform::kHkeyLocalMachine);
            key.Open(kDirectory, true);
            key.WriteDword(L"ConnectTimeout", 0);
            key.WriteDword(L"OperationTimeout", 0);
        }
    }
    CSambaFacts facts;
    std::filesystem::path root;
    std::wstring server;
};

Setup& Environment() {
    static Setup setup;
    return setup;
}

bool Ready(benchmark::State& state) {
    if (!Environment().server.empty()) return true;
    state.SkipWithError("no Samba facts: set KX_SAMBA_FACTS (tools/sambadc/sambadc.py start)");
    return false;
}

void BM_GuidToNameSchemaFromCache(benchmark::State& state) {
    if (!Ready(state)) return;
    CLookupCache cache;
    const std::wstring member = L"{bf9679c0-0de6-11d0-a285-00aa003049e2}";
    cache.GuidToName(Environment().server, member);
    for (auto _ : state) benchmark::DoNotOptimize(cache.GuidToName(Environment().server, member));
}
BENCHMARK(BM_GuidToNameSchemaFromCache);

void BM_GuidToNameLiveUser(benchmark::State& state) {
    if (!Ready(state)) return;
    CLookupCache cache;
    const std::wstring jane = Environment().facts["jane.guid"];
    cache.GuidToName(Environment().server, jane);
    for (auto _ : state) benchmark::DoNotOptimize(cache.GuidToName(Environment().server, jane));
}
BENCHMARK(BM_GuidToNameLiveUser)->Unit(benchmark::kMicrosecond);

// Found by the first, equality search.
void BM_FindCreatedObject(benchmark::State& state) {
    if (!Ready(state)) return;
    CLookupCache cache;
    const std::wstring base = Environment().facts["base"];
    const int64_t created = Environment().facts.Time("jane.created");
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            cache.FindCreatedObject(Environment().server, base, L"person", created));
    }
}
BENCHMARK(BM_FindCreatedObject)->Unit(benchmark::kMillisecond);

// Nothing in any window: six searches.
void BM_FindCreatedObjectNotFound(benchmark::State& state) {
    if (!Ready(state)) return;
    CLookupCache cache;
    const std::wstring base = Environment().facts["base"];
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            cache.FindCreatedObject(Environment().server, base, L"person", 1000000000));
    }
}
BENCHMARK(BM_FindCreatedObjectNotFound)->Unit(benchmark::kMillisecond);

void BM_LookupAgainstASilentServer(benchmark::State& state) {
    if (!Ready(state)) return;
    if (!std::getenv("KX_BENCH_DEAD_PORT")) {
        state.SkipWithError("set KX_BENCH_DEAD_PORT to a port that listens and never accepts");
        return;
    }
    for (auto _ : state) {
        CLookupCache cache;
        benchmark::DoNotOptimize(
            cache.GuidToName(L"dead", L"{bf9679c0-0de6-11d0-a285-00aa003049e2}"));
    }
}
BENCHMARK(BM_LookupAgainstASilentServer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The lookups that follow a silent server's time-out, inside the skip window.
void BM_LookupsWhileASilentServerIsSkipped(benchmark::State& state) {
    if (!Ready(state) || !std::getenv("KX_BENCH_DEAD_PORT")) {
        state.SkipWithError("set KX_BENCH_DEAD_PORT");
        return;
    }
    CLookupCache cache;
    cache.GuidToName(L"dead", L"{bf9679c0-0de6-11d0-a285-00aa003049e2}");
    for (auto _ : state)
        benchmark::DoNotOptimize(
            cache.GuidToName(L"dead", L"{bf967aba-0de6-11d0-a285-00aa003049e2}"));
}
BENCHMARK(BM_LookupsWhileASilentServerIsSkipped);

}  // namespace

BENCHMARK_MAIN();
