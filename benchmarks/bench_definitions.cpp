// Cost of loading a definitions document of 1,000 definitions, and of the
// pre-test that runs for every record the agent reads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "definitions/WorkstationEventDefinitions.h"

namespace {

constexpr int kDefinitions = 1000;

// A definition the size of the realistic ones: every field, two string
// rules and four property rules.
std::wstring Definition(int index) {
    std::wstring code = std::to_wstring(4000 + index);
    std::wstring property =
        L"<EventDefinitionProperty><PropertyCode>TARGETACCOUNT</PropertyCode>"
        L"<PropertyValue>2\\1</PropertyValue><PropertyType>Account</PropertyType>"
        L"<StoreInDatabase>true</StoreInDatabase></EventDefinitionProperty>";
    return L"<EventDefinition><EventDefinitionID>" + std::to_wstring(1000 + index) +
           L"</EventDefinitionID><DefinitionName>User Account Created</DefinitionName>"
           L"<DefinitionType>Workstation</DefinitionType><EventDefinitionCode>WS" +
           code +
           L"</EventDefinitionCode><ADVersion>All</ADVersion><LogName>Security</LogName>"
           L"<EventCategory>User Account Management</EventCategory>"
           L"<EventCategoryID>13824</EventCategoryID>"
           L"<EventSource>Microsoft-Windows-Security-Auditing</EventSource>"
           L"<EventType>Audit Success</EventType><EventTypeID>8</EventTypeID><EventCode>" +
           code +
           L"</EventCode><Priority>2</Priority><IsIncluded>true</IsIncluded>"
           L"<IsEnabled>true</IsEnabled><IsHidden>false</IsHidden><FormatText>%[ACTORACCOUNT] "
           L"created the user account %[PROP:TARGETACCOUNT] on %[COMPUTERNAME] at "
           L"%[TIMEGENERATED].</FormatText><EventDefinitionStrings><EventDefinitionString>"
           L"<StringNumber>1</StringNumber><StringValue>(!contains)$</StringValue>"
           L"</EventDefinitionString><EventDefinitionString><StringNumber>3</StringNumber>"
           L"<StringValue>Administrators|(contains)admin</StringValue></EventDefinitionString>"
           L"</EventDefinitionStrings><EventDefinitionProperties>" +
           property + property + property + property +
           L"</EventDefinitionProperties></EventDefinition>";
}

std::wstring Document(int definitions = kDefinitions) {
    std::wstring text = L"<KXEventDefinitions><Success>true</Success><EventDefinitions>";
    for (int i = 0; i < definitions; ++i) text += Definition(i);
    return text + L"</EventDefinitions></KXEventDefinitions>";
}

void BM_LoadThousandDefinitions(benchmark::State& state) {
    const std::wstring text = Document();
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    for (auto _ : state) {
        int32_t result = set.LoadFromXml(text);
        benchmark::DoNotOptimize(result);
    }
    if (set.GetDefinitions().size() != kDefinitions) state.SkipWithError("load incomplete");
    state.counters["document_bytes"] = static_cast<double>(text.size() * 2);
}
BENCHMARK(BM_LoadThousandDefinitions)->Unit(benchmark::kMillisecond);

// The argument is the number of definitions (10, as a small set; 1,000).
void BM_IsCandidateEvent(benchmark::State& state) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(Document(static_cast<int>(state.range(0))));
    // With 1,000 definitions two thirds hits, one third misses (with 10
    // nearly all misses); every other identifier carries
    // high bits, as identifiers with qualifiers do.
    uint32_t eventId = 3500;
    int64_t hits = 0;
    for (auto _ : state) {
        hits += set.IsCandidateEvent(eventId | ((eventId & 1u) << 30));
        eventId = eventId >= 5000 ? 3500 : eventId + 1;
        benchmark::DoNotOptimize(eventId);
    }
    benchmark::DoNotOptimize(hits);
}
BENCHMARK(BM_IsCandidateEvent)->Arg(10)->Arg(kDefinitions);

}  // namespace

BENCHMARK_MAIN();
