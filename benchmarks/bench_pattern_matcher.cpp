// The response pattern matcher on large and hostile input: the client's four
// header patterns over a 64 KiB header block, the cookie pattern over one
// 64 KiB line without an end, the tag patterns over a 1 MiB body, and
// patterns that make a plain backtracking engine take exponential time.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "http/PatternMatcher.h"

namespace {

constexpr std::size_t kBlock = 64 * 1024;

std::wstring HeaderBlock() {
    std::wstring block = L"HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n";
    for (int i = 0; block.size() < kBlock - 64; ++i) {
        block += L"Set-Cookie: session" + std::to_wstring(i) + L"=abcdef0123456789; path=/\r\n";
        block += L"X-Padding-" + std::to_wstring(i) + L": lorem ipsum dolor sit amet\r\n";
    }
    block += L"Content-Length: 123\r\n\r\n";
    return block;
}

void Run(benchmark::State& state, const wchar_t* pattern, const std::wstring& text) {
    std::vector<std::wstring> results;
    for (auto _ : state) {
        CPatternMatcher::FindAllCaptures(pattern, false, 1, text, results, false);
        benchmark::DoNotOptimize(results.data());
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * text.size() * sizeof(wchar_t)));
    state.counters["captures"] = static_cast<double>(results.size());
}

void BM_HeaderPatterns64KiB(benchmark::State& state) {
    const std::wstring block = HeaderBlock();
    const wchar_t* patterns[] = {L"charset={[A-Za-z0-9\\-_]+}", L"Content-Length: {[0-9]+}",
                                 L"Location: {[0-9]+}", L"Set-Cookie:\\b*{.+?}\\n"};
    std::vector<std::wstring> results;
    for (auto _ : state) {
        for (const wchar_t* pattern : patterns) {
            CPatternMatcher::FindAllCaptures(pattern, false, 1, block, results, false);
            benchmark::DoNotOptimize(results.data());
        }
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * block.size() * sizeof(wchar_t)));
}
BENCHMARK(BM_HeaderPatterns64KiB)->Unit(benchmark::kMillisecond);

void BM_CookiePatternOnOneUnendedLine64KiB(benchmark::State& state) {
    std::wstring line = L"Set-Cookie: " + std::wstring(kBlock, L'x');
    Run(state, L"Set-Cookie:\\b*{.+?}\\n", line);
}
BENCHMARK(BM_CookiePatternOnOneUnendedLine64KiB)->Unit(benchmark::kMillisecond);

void BM_HtmlTagsOnA1MiBBody(benchmark::State& state) {
    std::wstring body = L"<HTML><body>";
    body.append(1024 * 1024, L'p');
    Run(state, L"{</html>}", body);
}
BENCHMARK(BM_HtmlTagsOnA1MiBBody)->Unit(benchmark::kMillisecond);

void BM_NestedRepetition64KiB(benchmark::State& state) {
    Run(state, L"{(a|aa)+}b", std::wstring(kBlock, L'a'));
}
BENCHMARK(BM_NestedRepetition64KiB)->Unit(benchmark::kMillisecond);

void BM_LazyDotStarPairs64KiB(benchmark::State& state) {
    Run(state, L"{.*?}={.*?};", std::wstring(kBlock, L'k'));
}
BENCHMARK(BM_LazyDotStarPairs64KiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
