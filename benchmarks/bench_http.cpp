// Sequential small requests from CHttpRequest to the reference server over
// the platform's transport, each with a fresh request object as the agent
// makes them. The server is started here (or taken from KX_REFSERVER and
// KX_REFSERVER_CONTROL when they are set) and stores every post in SQLite.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/Text.h"
#include "http/HttpRequest.h"

#ifndef KX_REFSERVER_SCRIPT
#error "KX_REFSERVER_SCRIPT names tools/refserver/refserver.py"
#endif

namespace {

class CBenchServer {
public:
    CBenchServer() {
        if (const char* address = std::getenv("KX_REFSERVER")) {
            address_ = address;
            return;
        }
        state_ = std::filesystem::temp_directory_path() / "kx-bench-http";
        std::string command = std::string("python3 ") + KX_REFSERVER_SCRIPT +
                              " start --port 0 --quiet" + " --sync " + Sync() + " --state-dir " +
                              state_.string() + " >/dev/null";
        if (std::system(command.c_str()) != 0) return;
        std::ifstream file(state_ / "address.json");
        std::string json((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::size_t key = json.find("\"service\": \"");
        if (key == std::string::npos) return;
        key += 12;
        address_ = json.substr(key, json.find('"', key) - key);
    }
    ~CBenchServer() {
        if (state_.empty()) return;
        std::string command =
            std::string("python3 ") + KX_REFSERVER_SCRIPT + " stop --state-dir " + state_.string();
        (void)std::system(command.c_str());
        std::filesystem::remove_all(state_);
    }
    // SQLite's synchronous mode for the server: KX_BENCH_SYNC=full|normal|off.
    static std::string Sync() {
        const char* sync = std::getenv("KX_BENCH_SYNC");
        return sync ? sync : "normal";
    }
    std::wstring Url(const std::wstring& path) const {
        return L"http://" + kx::Utf8ToWide(address_) + path;
    }
    bool Available() const { return !address_.empty(); }

private:
    std::filesystem::path state_;
    std::string address_;
};

CBenchServer& Server() {
    static CBenchServer server;
    return server;
}

std::string SmallAlertDocument() {
    return kx::WideToUtf16LE(
        L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><Korvex><WorkstationEvents>"
        L"<WorkstationEvent><TimeGenerated>2024-03-01 09:15:00</TimeGenerated>"
        L"<ComputerName>WS1</ComputerName><AccountName>CORP\\user</AccountName>"
        L"<EventDefinitionCode>LOGON</EventDefinitionCode><ActionText>User logged on</ActionText>"
        L"<EventDump>&lt;![CDATA[An account was successfully logged on.]]&gt;</EventDump>"
        L"<EventProperties></EventProperties></WorkstationEvent></WorkstationEvents></Korvex>");
}

void BM_SequentialSmallPosts(benchmark::State& state) {
    if (!Server().Available()) {
        state.SkipWithError("reference server did not start");
        return;
    }
    const std::string body = SmallAlertDocument();
    const std::wstring headers =
        L"Content-Length: " + std::to_wstring(body.size()) + L"\r\nContent-Type: image/jpeg\r\n";
    const std::wstring url = Server().Url(L"/EventPost");
    for (auto _ : state) {
        CHttpRequest request(url);
        request.SetRequestHeaders(headers);
        request.SetRequestBody(body.data(), static_cast<uint32_t>(body.size()));
        if (!request.SendRequest(L"POST", false)) {
            state.SkipWithError("post failed");
            return;
        }
    }
    state.counters["requests_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["body_bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_SequentialSmallPosts)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

void BM_SequentialConfigValueGets(benchmark::State& state) {
    if (!Server().Available()) {
        state.SkipWithError("reference server did not start");
        return;
    }
    const std::wstring url = Server().Url(L"/GetConfigValue?Name=EDVersionNumber");
    for (auto _ : state) {
        CHttpRequest request(url);
        if (!request.SendRequest(L"GET", false)) {
            state.SkipWithError("request failed");
            return;
        }
    }
    state.counters["requests_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SequentialConfigValueGets)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
