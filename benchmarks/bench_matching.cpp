// Matching a record to its definition and building its alert item:
// FindDefinition among 1,000 definitions of which 10 carry the record's code,
// and MakeAlertItem for a 4720 with five properties and no directory lookup
// (a new record object each time, as the agent makes one per record).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "alertlog/XMLAlertLog.h"
#include "definitions/WorkstationEventDefinitions.h"

namespace {

// The strings of a recorded 4720: target name, domain and SID, subject SID,
// name, domain and logon id, privileges, SAM account name and more.
const std::vector<std::wstring> kStrings = {L"jmueller",
                                            L"CORP",
                                            L"%{S-1-5-21-1004336348-1177238915-682003330-1104}",
                                            L"S-1-5-21-1004336348-1177238915-682003330-500",
                                            L"admin",
                                            L"CORP",
                                            L"0x3e7",
                                            L"-",
                                            L"jmueller",
                                            L"Jens Mueller",
                                            L"jmueller@corp.example.test",
                                            L"-",
                                            L"-",
                                            L"-",
                                            L"-",
                                            L"-",
                                            L"%%1793",
                                            L"-",
                                            L"513",
                                            L"-",
                                            L"0x0",
                                            L"0x15",
                                            L"%%2080"};

std::wstring Definition(int index, int code, const std::wstring& rules) {
    return L"<EventDefinition><EventDefinitionCode>WS" + std::to_wstring(index) +
           L"</EventDefinitionCode><LogName>Security</LogName>"
           L"<EventSource>Microsoft-Windows-Security-Auditing</EventSource>"
           L"<EventTypeID>8</EventTypeID><EventCode>" +
           std::to_wstring(code) +
           L"</EventCode><IsIncluded>true</IsIncluded><IsEnabled>true</IsEnabled>"
           L"<FormatText>%[ACTORACCOUNT] created %[PROP:TARGETACCOUNT] on %[COMPUTERNAME] at "
           L"%[TIMEGENERATED].</FormatText>" +
           rules + L"</EventDefinition>";
}

std::wstring Property(const wchar_t* code, const wchar_t* value, const wchar_t* type) {
    return std::wstring(L"<EventDefinitionProperty><PropertyCode>") + code +
           L"</PropertyCode><PropertyValue>" + value + L"</PropertyValue><PropertyType>" + type +
           L"</PropertyType><StoreInDatabase>true</StoreInDatabase></EventDefinitionProperty>";
}

// 990 definitions of other codes; 9 of code 4720 whose string rule fails,
// then the one that selects the record.
std::wstring Document() {
    const std::wstring failing =
        L"<EventDefinitionStrings><EventDefinitionString><StringNumber>1</StringNumber>"
        L"<StringValue>(contains)$</StringValue></EventDefinitionString></EventDefinitionStrings>";
    const std::wstring properties =
        L"<EventDefinitionProperties>" + Property(L"TARGETACCOUNT", L"2\\1", L"Account") +
        Property(L"SUBJECTACCOUNT", L"6\\5", L"Account") + Property(L"TARGETSID", L"3", L"Raw") +
        Property(L"DISPLAYNAME", L"10", L"Normal") + Property(L"PRINCIPAL", L"11", L"Strip") +
        L"</EventDefinitionProperties>";
    std::wstring text = L"<KXEventDefinitions><Success>true</Success><EventDefinitions>";
    for (int i = 0; i < 990; ++i) text += Definition(i, 5000 + i, L"");
    for (int i = 990; i < 999; ++i) text += Definition(i, 4720, failing);
    text += Definition(999, 4720, properties);
    return text + L"</EventDefinitions></KXEventDefinitions>";
}

class CBenchRecord {
public:
    CBenchRecord() {
        const auto root = std::filesystem::temp_directory_path() / "kx-bench-matching";
        std::filesystem::create_directories(root);
        setenv("KX_MACHINE_ROOT", root.c_str(), 1);
        lookups_ = std::make_unique<CLookupCache>();
        EventLogRecordFields fields;
        fields.eventId = 4720;
        fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
        fields.sourceName = L"Microsoft-Windows-Security-Auditing";
        fields.computerName = lookups_->LocalComputerName();
        fields.timeGenerated = 1425445567;
        fields.strings = kStrings;
        bytes_ = BuildEventLogRecord(fields);
        definitions_.LoadFromXml(Document());
    }
    CEventLogEntry Entry() {
        return CEventLogEntry(lookups_->LocalComputerName(), L"corp.example.test", L"Security",
                              bytes_.data(), false, *lookups_);
    }
    CWorkstationEventDefinitions& Definitions() { return definitions_; }

private:
    std::unique_ptr<CLookupCache> lookups_;
    std::vector<uint8_t> bytes_;
    CWorkstationEventDefinitions definitions_{CWorkstationEventDefinitions::kWithoutRefresh};
};

CBenchRecord& Bench() {
    static CBenchRecord bench;
    return bench;
}

void BM_FindDefinitionAmongAThousand(benchmark::State& state) {
    CEventLogEntry record = Bench().Entry();
    for (auto _ : state) benchmark::DoNotOptimize(Bench().Definitions().FindDefinition(&record));
    if (!Bench().Definitions().FindDefinition(&record)) state.SkipWithError("no definition");
}
BENCHMARK(BM_FindDefinitionAmongAThousand);

void BM_MakeAlertItemWithFiveProperties(benchmark::State& state) {
    CEventLogEntry first = Bench().Entry();
    CXMLEventDefinition* definition = Bench().Definitions().FindDefinition(&first);
    if (!definition) {
        state.SkipWithError("no definition");
        return;
    }
    for (auto _ : state) {
        CEventLogEntry record = Bench().Entry();
        benchmark::DoNotOptimize(CXMLAlertLog::MakeAlertItem(record, *definition));
    }
}
BENCHMARK(BM_MakeAlertItemWithFiveProperties);

}  // namespace

BENCHMARK_MAIN();
