// Writes the byte-identity goldens of tests/data/alertlog that
// RecordedDocumentTest compares with (Linux only: it reads .evtx files):
//
//   recorded.records  every record of tests/data/evtx/*.evtx (files in name
//                     order), as the event log delivers them
//   hostile.records   records with hostile text (below)
//   <name>.cache      the cache file the agent writes of those records' alerts
//   <name>.xml        the alert document it posts of that file
//
// Run it only to make new goldens on purpose, through its target, which sets
// the tests' time zone:
//
//   cmake --build --preset linux --target kx_alertlog_goldens
//
// The goldens are the bytes of the commit that wrote them; a change that
// alters them changes what the agent writes and posts.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "BaseClasses/EventLogRecord.h"
#include "EvtxImporter.h"
#include "RecordedDocuments.h"
#include "TempDirectory.h"
#include "platform/Accounts.h"

namespace {

std::vector<std::vector<uint8_t>> RecordedRecords() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(KX_EVTX_FOLDER))
        if (entry.path().extension() == ".evtx") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<uint8_t>> records;
    for (const auto& file : files)
        for (const EventLogRecordFields& fields : CEvtxImporter::ReadFile(file.string()))
            records.push_back(BuildEventLogRecord(fields));
    return records;
}

EventLogRecordFields AuditRecord(uint32_t eventId, uint32_t time) {
    EventLogRecordFields fields;
    fields.recordNumber = eventId;
    fields.timeGenerated = fields.timeWritten = time;
    fields.eventId = eventId;
    fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
    fields.sourceName = L"Microsoft-Windows-Security-Auditing";
    fields.computerName = CRecordedDocuments::kComputer;
    return fields;
}

// A created account whose strings hold markup and a CDATA end, an astral
// character, lone high and low surrogates and U+FFFE; the display name holds
// a zero, which ends that string early and moves the ones behind it up. Its
// SID's directory name and a created group policy object's name are the
// scripted directory's hostile name (RecordedDocuments.cpp).
std::vector<std::vector<uint8_t>> HostileRecords() {
    EventLogRecordFields account = AuditRecord(4720, 1721038830);  // summer time in Berlin
    account.strings = {L"j&<>]]>ne \U0001D11E",
                       std::wstring(L"CO\xD800") + L"RP\xDC00" + L"x",
                       L"S-1-5-21-1-2-3-1104",
                       L"S-1-5-21-1-2-3-500",
                       std::wstring(L"adm") + L'\xFFFE' + L"in <b>&amp;</b>",
                       L"CORP",
                       L"0x3e7",
                       L"-",
                       L"]]><![CDATA[j\U0001F600",
                       std::wstring(L"Jane\0Doe", 8),
                       L"-",
                       L"%%1793",
                       L"-"};
    kx::platform::ConvertStringToSid(L"S-1-5-18", account.userSid);
    EventLogRecordFields policy = AuditRecord(5137, 1425445567);  // winter time
    policy.strings = {L"{52BFBF59-4CF4-4D5E-98D1-09D1EBE12FDE}",
                      L"-",
                      L"S-1-5-21-1-2-3-500",
                      L"adm&in",
                      L"CORP",
                      L"0x3e7",
                      L"offsec.lan",
                      L"%%14676",
                      L"CN={31B2F340-016D-11D2-945F-00C04FB984F9},CN=Policies,CN=System,DC=offsec,"
                      L"DC=lan",
                      L"{31B2F340-016D-11D2-945F-00C04FB984F9}",
                      L"groupPolicyContainer"};
    return {BuildEventLogRecord(account), BuildEventLogRecord(policy)};
}

void WriteGoldens(const std::string& name, const std::vector<std::vector<uint8_t>>& records) {
    const std::filesystem::path folder = KX_ALERTLOG_DATA_DIR;
    const CAgentBytes bytes = CRecordedDocuments::Make(records);
    WriteFileBytes(folder / (name + ".records"), CRecordedDocuments::JoinRecords(records));
    WriteFileBytes(folder / (name + ".cache"), bytes.cacheFile);
    WriteFileBytes(folder / (name + ".xml"), bytes.document);
    std::printf("%s: %zu records, cache file %zu bytes, document %zu bytes\n", name.c_str(),
                records.size(), bytes.cacheFile.size(), bytes.document.size());
}

}  // namespace

int main() {
    const char* zone = std::getenv("TZ");
    if (!zone || std::string("TZ=") + zone != KX_TEST_TIME_ZONE) {
        std::fprintf(stderr, "run with %s, as the tests run (target kx_alertlog_goldens)\n",
                     KX_TEST_TIME_ZONE);
        return 2;
    }
    try {
        WriteGoldens("recorded", RecordedRecords());
        WriteGoldens("hostile", HostileRecords());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kx_make_alertlog_goldens: %s\n", error.what());
        return 1;
    }
    return 0;
}
