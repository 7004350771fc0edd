// The whole road from recorded Windows Security logs to queued alert items:
// the .evtx files of tests/data/evtx imported into this machine's Security
// log, read back by the collector, matched against the realistic
// definitions and built into items, with the directory of the records' own
// domain (Samba, "recorded" profile) answering the lookups. The items are
// compared with tests/data/evtx/expected-alerts.txt, which
// make_expected_alerts.py worked out from the records' insertion strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "EvtxImporter.h"
#include "RegistrySandbox.h"
#include "SambaFacts.h"
#include "alertlog/XMLAlertLog.h"
#include "common/Format.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/EventLog.h"
#include "platform/Registry.h"

namespace {

constexpr wchar_t kLog[] = L"Security";
constexpr wchar_t kDnsDomain[] = L"offsec.lan";
constexpr uint32_t kMovedEvent = 5137;
constexpr wchar_t kServers[] = L"SOFTWARE\\Brenwick Corporation\\Korvex\\Directory\\Servers\\";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::wstring Escaped(const std::wstring& text) {
    std::wstring out = kx::ReplaceAll(text, L"\r", L"\\r");
    out = kx::ReplaceAll(out, L"\n", L"\\n");
    return kx::ReplaceAll(out, L"\t", L"\\t");
}

// "YYYYMMDDHHMMSS" as "YYYY-MM-DD HH:MM:SS".
std::wstring DirectoryTimeText(const std::wstring& stamp) {
    return stamp.substr(0, 4) + L"-" + stamp.substr(4, 2) + L"-" + stamp.substr(6, 2) + L" " +
           stamp.substr(8, 2) + L":" + stamp.substr(10, 2) + L":" + stamp.substr(12, 2);
}

class RecordedAlertsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!facts_.Available()) GTEST_SKIP() << CSambaFacts::kNotAvailable;
        ConfigureDirectory();
        definitions_.LoadFromXml(kx::Utf8ToWide(ReadText(KX_DEFINITIONS_DOCUMENT)));
        ASSERT_FALSE(definitions_.GetDefinitions().empty());
    }

    // The local computer's lookups, its domain accounts' names too, go to
    // the Samba domain controller.
    void ConfigureDirectory() {
        CRegistryKey key;
        key.SetRoot(kx::platform::kHkeyLocalMachine);
        ASSERT_TRUE(key.Open(kServers + lookups_.LocalComputerName(), true));
        key.WriteString(L"Uri", facts_["uri"]);
        key.WriteString(L"Authentication", L"Simple");
        key.WriteString(L"User", facts_["user"]);
        key.WriteString(L"PasswordFile", facts_["passwordFile"]);
    }

    // Every recorded file in name order; the 5137 record moves to the second
    // in which the directory created the object it names, so that the
    // lookup by creation time finds it.
    uint32_t ImportRecordedLogs() {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(KX_EVTX_FOLDER))
            if (entry.path().extension() == ".evtx") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::vector<std::vector<uint8_t>> records;
        const auto created = static_cast<uint32_t>(facts_.Time("jump01.created"));
        for (const auto& file : files) {
            for (EventLogRecordFields fields : CEvtxImporter::ReadFile(file.string())) {
                if ((fields.eventId & 0xFFFF) == kMovedEvent)
                    fields.timeGenerated = fields.timeWritten = created;
                records.push_back(BuildEventLogRecord(fields));
            }
        }
        uint32_t first = 0;
        EXPECT_TRUE(kx::platform::AppendEventLogRecords(kLog, records, &first));
        return first + static_cast<uint32_t>(records.size()) - 1;
    }

    static int OnRecord(const void* record, void* self) {
        static_cast<RecordedAlertsTest*>(self)->Handle(record);
        return 1;
    }

    void Handle(const void* bytes) {
        CEventLogRecord record = CEventLogRecord::FromDeliveredRecord(bytes);
        if (definitions_.IsCandidateEvent(record.EventId())) {
            CEventLogEntry entry(lookups_.LocalComputerName(), kDnsDomain, kLog, bytes, false,
                                 lookups_);
            if (CXMLEventDefinition* definition = definitions_.FindDefinition(&entry))
                Describe(record, *definition, *CXMLAlertLog::MakeAlertItem(entry, *definition));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        lastRecord_ = record.RecordNumber();
        caughtUp_.notify_all();
    }

    void Describe(const CEventLogRecord& record, const CXMLEventDefinition& definition,
                  const CXMLAlertLogItem& item) {
        const std::wstring dump = item.EventDump.substr(0, item.EventDump.find_first_of(L"\r\n"));
        std::wstring text =
            kx::Format(L"%s from record %u (event %u)\n", definition.EventDefinitionCode,
                       record.RecordNumber(), record.EventId() & 0xFFFF);
        text += L"  ComputerName: " + item.ComputerName + L"\n";
        text += L"  ComputerDomain: " + item.ComputerDomain + L"\n";
        text += L"  AccountSID: " + Escaped(item.AccountSID) + L"\n";
        text += L"  AccountName: " + Escaped(item.AccountName) + L"\n";
        text += L"  TimeGenerated: " + CXMLAlertLogItem::RenderTimeGenerated(item.TimeGenerated) +
                L"\n";
        text += L"  ActionText: " + Escaped(item.ActionText) + L"\n";
        text += L"  EventDump: " + dump + L"\n";
        for (const auto& property : item.Properties)
            text +=
                L"  " + property->PropertyCode + L": " + Escaped(property->PropertyValue) + L"\n";
        described_ += text;
    }

    // The expected list with this machine's name and the moved record's time.
    std::wstring Expected() const {
        std::wstring text = kx::Utf8ToWide(ReadText(KX_EVTX_FOLDER "/expected-alerts.txt"));
        text = text.substr(text.find(L'\n') + 1);  // the comment line
        const std::wstring created = facts_["jump01.created"];
        text = kx::ReplaceAll(text, L"<computer>", lookups_.LocalComputerName());
        return kx::ReplaceAll(text, L"<jump01-time>", DirectoryTimeText(created));
    }

    CRegistrySandbox sandbox_;
    CSambaFacts facts_;
    CLookupCache lookups_;
    CWorkstationEventDefinitions definitions_{CWorkstationEventDefinitions::kWithoutRefresh};
    std::mutex mutex_;
    std::condition_variable caughtUp_;
    uint32_t lastRecord_ = 0;
    std::wstring described_;  // written on the collector's thread until it rests
};

TEST_F(RecordedAlertsTest, EveryRecordedRecordBecomesTheExpectedItem) {
    const uint32_t newest = ImportRecordedLogs();
    {
        CEventLogCollector collector;
        collector.SetCollectionParameters(lookups_.LocalComputerName().c_str(), kLog, 1, 14,
                                          &RecordedAlertsTest::OnRecord, nullptr, this);
        collector.BeginCollecting();
        std::unique_lock<std::mutex> lock(mutex_);
        // The collector reads on its own thread with the real clock.
        caughtUp_.wait_for(lock, std::chrono::seconds(60), [&] { return lastRecord_ >= newest; });
        lock.unlock();
        collector.StopCollecting();
    }
    ASSERT_EQ(lastRecord_, newest) << "the collector did not reach the newest record";
    EXPECT_EQ(kx::WideToUtf8(described_), kx::WideToUtf8(Expected()));
}

}  // namespace
