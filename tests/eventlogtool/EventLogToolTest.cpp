#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "BaseClasses/EventLogRecord.h"
#include "RecordedLogon.h"
#include "TempDirectory.h"
#include "ToolRunner.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/EventLog.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"
#include "platform/Time.h"

namespace {

using namespace kx::platform;

class EventLogToolTest : public ::testing::Test {
protected:
    void SetUp() override { SetMachineRootForTesting(dir_.WidePath()); }
    void TearDown() override { SetMachineRootForTesting(L""); }

    ToolResult Tool(const std::string& arguments) { return RunTool(arguments, dir_.Path()); }

    // Every record of a log, read through the port in this process.
    std::vector<EventLogRecordFields> ReadLog(const std::wstring& name) {
        std::vector<EventLogRecordFields> records;
        IEventLog& log = GetEventLog();
        EventLogHandle handle = log.Open(nullptr, name.c_str());
        std::vector<uint8_t> buffer(kMaximumEventLogReadSize);
        uint32_t read = 0;
        uint32_t needed = 0;
        while (log.Read(handle, kEventLogSequentialRead | kEventLogForwardsRead, 0, buffer.data(),
                        static_cast<uint32_t>(buffer.size()), &read, &needed)) {
            for (uint32_t at = 0; at < read;) {
                CEventLogRecord record(buffer.data() + at, read - at);
                std::optional<EventLogRecordFields> fields = record.ReadFields();
                EXPECT_TRUE(fields.has_value());
                if (!fields) break;
                records.push_back(*fields);
                at += record.Length();
            }
        }
        EXPECT_EQ(GetLastErrorCode(), kErrorHandleEof);
        log.Close(handle);
        return records;
    }

    CTempDirectory dir_;
};

// "2021-12-04 22:09:13.666426" -> seconds since 1970, rounded down.
uint32_t ParseUtc(const std::string& text) {
    kx::SystemTime t;
    t.year = static_cast<uint16_t>(std::stoi(text.substr(0, 4)));
    t.month = static_cast<uint16_t>(std::stoi(text.substr(5, 2)));
    t.day = static_cast<uint16_t>(std::stoi(text.substr(8, 2)));
    t.hour = static_cast<uint16_t>(std::stoi(text.substr(11, 2)));
    t.minute = static_cast<uint16_t>(std::stoi(text.substr(14, 2)));
    t.second = static_cast<uint16_t>(std::stoi(text.substr(17, 2)));
    return static_cast<uint32_t>(kx::SystemTimeToUnixMilliseconds(t) / 1000);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
    return parts;
}

// "4624:5;4724:1" -> {4624: 5, 4724: 1}
std::map<std::string, int> Counts(const std::string& text) {
    std::map<std::string, int> counts;
    for (const std::string& item : Split(text, ';')) {
        std::size_t colon = item.rfind(':');
        counts[item.substr(0, colon)] = std::stoi(item.substr(colon + 1));
    }
    return counts;
}

struct ManifestRow {
    std::map<std::string, std::string> columns;
    const std::string& operator[](const std::string& name) const { return columns.at(name); }
};

std::vector<ManifestRow> ReadManifest() {
    std::ifstream in(RecordedLogsDir() / "manifest.tsv");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names = Split(line, '\t');
    std::vector<ManifestRow> rows;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> values = Split(line, '\t');
        ManifestRow row;
        for (std::size_t i = 0; i < names.size() && i < values.size(); ++i)
            row.columns[names[i]] = values[i];
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST_F(EventLogToolTest, EvtexportReadsAFileTheToolWrote) {
    ASSERT_EQ(Tool("write --source 'Korvex Agent' --id 0x40000011 --type error --category 3 "
                   "--sid S-1-5-18 --time 2024-05-01T12:00:00Z --data 0a0b -- 'hello world' "
                   "'--second'")
                  .exitCode,
              0);
    ASSERT_EQ(
        Tool("write --source Test --id 4625 --type audit-failure --time 1700000000 x").exitCode, 0);
    const std::string file = kx::WideToUtf8(GetEventLogFilePath(L"Security"));
    ToolResult exported = RunProgram("evtexport", Quote(file), dir_.Path());
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    for (const char* line :
         {"Event number\t\t\t: 1\n", "Creation time\t\t\t: May 01, 2024 12:00:00 UTC\n",
          "Event type\t\t\t: Error event (1)\n", "User security identifier\t: S-1-5-18\n",
          "Source name\t\t\t: Korvex Agent\n", "Event category\t\t\t: 3\n",
          "Event identifier\t\t: 0x40000011 (1073741841)\n", "Number of strings\t\t: 2\n",
          "String: 1\t\t\t: hello world\n", "String: 2\t\t\t: --second\n",
          "Event number\t\t\t: 2\n", "Creation time\t\t\t: Nov 14, 2023 22:13:20 UTC\n",
          "Event type\t\t\t: Failure Audit event (16)\n",
          "Event identifier\t\t: 0x00001211 (4625)\n"})
        EXPECT_NE(exported.out.find(line), std::string::npos) << line << exported.out;
    ToolResult info = RunProgram("evtinfo", Quote(file), dir_.Path());
    EXPECT_NE(info.out.find("Number of records\t\t: 2\n"), std::string::npos) << info.out;
}

TEST_F(EventLogToolTest, ListInfoClearAndTrim) {
    for (int i = 1; i <= 5; ++i)
        ASSERT_EQ(Tool("write --log Application --source S --id " + std::to_string(i) + " s" +
                       std::to_string(i))
                      .exitCode,
                  0);
    ToolResult info = Tool("info --log Application --json");
    EXPECT_NE(info.out.find("\"oldest\": 1, \"count\": 5, \"newest\": 5}"), std::string::npos)
        << info.out;
    ToolResult list = Tool("list --log Application --from 4 --max 1");
    EXPECT_NE(list.out.find("Record 4\n"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("Record 5"), std::string::npos);
    ASSERT_EQ(Tool("trim --log Application --keep 2").exitCode, 0);
    EXPECT_NE(Tool("info --log Application").out.find("Oldest record:     4\n"), std::string::npos);
    ASSERT_EQ(Tool("clear --log Application").exitCode, 0);
    EXPECT_NE(Tool("info --log Application").out.find("Number of records: 0\nNewest record:     -"),
              std::string::npos);
    ASSERT_EQ(Tool("write --log Application --source S --id 9").exitCode, 0);
    EXPECT_NE(Tool("list --log Application").out.find("Record 1\n"), std::string::npos)
        << "numbering starts again at 1 after a clear";
}

TEST_F(EventLogToolTest, ListAsJsonIsValidJson) {
    ASSERT_EQ(
        Tool("write --source 'Q\"uote' --id 1 -- 'line\r\nbreak\ttab' 'caf\xc3\xa9'").exitCode, 0);
    ToolResult list = Tool("list --json");
    ASSERT_EQ(list.exitCode, 0);
    const std::filesystem::path json = dir_.Path() / "list.json";
    WriteFileBytes(json, list.out);
    ToolResult check =
        RunProgram("python3",
                   "-c " +
                       Quote("import json,sys; r=json.load(open(sys.argv[1])); "
                             "assert r[0]['strings']==['line\\r\\nbreak\\ttab','caf\\u00e9']; "
                             "assert r[0]['source']=='Q\"uote'") +
                       " " + Quote(json.string()),
                   dir_.Path());
    EXPECT_EQ(check.exitCode, 0) << check.err << list.out;
    EXPECT_EQ(Tool("list --json --log Empty").out, "[]\n");
}

TEST_F(EventLogToolTest, BadInputGetsAMessageAndANonZeroExitCode) {
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    WriteFileBytes(dir_.Path() / "garbage.evtx", "this is not an event log");
    const Case cases[] = {
        {"", 2, "Usage: kxeventlog"},
        {"frob", 2, "unknown command 'frob'"},
        {"write --id 1", 2, "--source is required"},
        {"write --source S --id 4294967296", 2,
         "--id: 4294967296 is out of range (0 to 4294967295)"},
        {"write --source S --id 12x", 2, "--id: '12x' is not a number"},
        {"write --source S --id 1 --type 70000", 2, "--type: 70000 is out of range"},
        {"write --source S --id 1 --sid S-1-x", 2, "--sid: 'S-1-x' is not a SID"},
        {"write --source S --id 1 --time 2024-13-01T00:00:00Z", 2,
         "--time month: 13 is out of range"},
        {"write --source S --id 1 --data abc", 2, "--data: 'abc' is not an even number"},
        {"write --source S --id 1 --colour red", 2, "--colour is not an option of write"},
        {"trim", 2, "--keep is required"},
        {"list --log ../x", 1, "cannot open the '../x' event log: error 87"},
        {"import", 2, "import needs at least one .evtx file"},
        {"import " + Quote((dir_.Path() / "missing.evtx").string()), 1,
         "missing.evtx: no such file"},
        {"import " + Quote((dir_.Path() / "garbage.evtx").string()), 1,
         "garbage.evtx: is not an .evtx file"},
    };
    for (const Case& c : cases) {
        ToolResult result = Tool(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments;
        EXPECT_NE((result.err + result.out).find(c.message), std::string::npos)
            << c.arguments << ": " << result.err;
    }
}

TEST_F(EventLogToolTest, ADamagedEvtxFileImportsNothingAtAll) {
    const std::filesystem::path good = RecordedLogsDir() / "pwd_reset_4724_4738.evtx";
    ASSERT_TRUE(std::filesystem::exists(good)) << "no recorded logs at " << RecordedLogsDir();
    std::string bytes = ReadFileBytes(good);
    WriteFileBytes(dir_.Path() / "truncated.evtx", bytes.substr(0, 5000));
    ToolResult result = Tool("import " + Quote(good.string()) + " " +
                             Quote((dir_.Path() / "truncated.evtx").string()));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("truncated.evtx: is damaged or truncated"), std::string::npos)
        << result.err;
    EXPECT_TRUE(ReadLog(L"Security").empty()) << "the good file was not imported on its own";
}

// Each recorded file imported into a log of its own holds what the manifest
// says: the identifiers and their counts, the providers, the TimeCreated
// range, one record per header record number.
TEST_F(EventLogToolTest, ImportOfTheRecordedLogsMatchesTheManifest) {
    std::vector<ManifestRow> rows = ReadManifest();
    ASSERT_FALSE(rows.empty()) << "no recorded logs at " << RecordedLogsDir();
    ASSERT_EQ(rows.size(), 9u);
    for (const ManifestRow& row : rows) {
        const std::string file = row["file"];
        SCOPED_TRACE(file);
        const std::string log = file.substr(0, file.find('.'));
        ToolResult result =
            Tool("import --log " + log + " " + Quote((RecordedLogsDir() / file).string()));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        std::vector<EventLogRecordFields> records = ReadLog(kx::Utf8ToWide(log));
        std::vector<std::string> range = Split(row["header_record_number_range"], '.');
        EXPECT_EQ(records.size(), static_cast<std::size_t>(std::stoi(range.back())));
        std::map<std::string, int> ids;
        std::map<std::string, int> providers;
        std::size_t failures = 0;
        uint32_t first = UINT32_MAX;
        uint32_t last = 0;
        for (const EventLogRecordFields& record : records) {
            ++ids[std::to_string(record.eventId)];
            ++providers[kx::WideToUtf8(record.sourceName)];
            first = std::min(first, record.timeGenerated);
            last = std::max(last, record.timeGenerated);
            if (record.sourceName == L"Microsoft-Windows-Security-Auditing") {
                EXPECT_TRUE(record.eventType == 8 || record.eventType == 16) << record.eventId;
                if (record.eventId == 4625) {
                    EXPECT_EQ(record.eventType, 16);
                }
            }
            failures += record.eventType == 16;
        }
        // libevtx's own XML says which records carry the audit-failure keyword.
        ToolResult xml = RunProgram(
            "evtxexport", "-f xml " + Quote((RecordedLogsDir() / file).string()), dir_.Path());
        std::size_t failureKeywords = 0;
        for (std::size_t at = xml.out.find("<Keywords>0x8010"); at != std::string::npos;
             at = xml.out.find("<Keywords>0x8010", at + 1))
            ++failureKeywords;
        EXPECT_EQ(failures, failureKeywords);
        EXPECT_EQ(ids, Counts(row["event_ids_counts"]));
        EXPECT_EQ(providers, Counts(row["providers"]));
        const std::string times = row["time_created_range_utc"];
        EXPECT_EQ(first, ParseUtc(times.substr(0, times.find(" .. "))));
        EXPECT_EQ(last, ParseUtc(times.substr(times.find(" .. ") + 4)));
    }
}

TEST_F(EventLogToolTest, ImportedStringsAreTheEventDataValuesInOrder) {
    const std::filesystem::path file = RecordedLogsDir() / "pwd_reset_4724_4738.evtx";
    ASSERT_TRUE(std::filesystem::exists(file)) << "no recorded logs at " << RecordedLogsDir();
    ASSERT_EQ(Tool("import " + Quote(file.string())).exitCode, 0);
    std::vector<EventLogRecordFields> records = ReadLog(L"Security");
    ASSERT_EQ(records.size(), 8u);
    const EventLogRecordFields& logon = records[0];
    EXPECT_EQ(logon.eventId, 4624u);
    EXPECT_EQ(logon.eventCategory, 12544) << "the Task";
    EXPECT_EQ(logon.computerName, L"rootdc1.offsec.lan");
    EXPECT_TRUE(logon.userSid.empty());
    EXPECT_EQ(logon.timeGenerated, ParseUtc("2021-12-04 22:09:13"));

    EXPECT_EQ(logon.strings, RecordedLogonStrings());
    // A multi-valued field keeps its unresolved parameter references.
    const EventLogRecordFields& share = records[1];
    EXPECT_EQ(share.eventId, 5145u);
    ASSERT_EQ(share.strings.size(), 13u);
    EXPECT_EQ(share.strings[11].rfind(L"%%1538\r\n\t\t\t\t%%1541\r\n", 0), 0u);
}

TEST_F(EventLogToolTest, ShiftToNowMovesTheNewestRecordToTheCurrentTime) {
    const std::filesystem::path file = RecordedLogsDir() / "local_group_4732_4733.evtx";
    ASSERT_TRUE(std::filesystem::exists(file)) << "no recorded logs at " << RecordedLogsDir();
    ASSERT_EQ(Tool("import --shift-to-now " + Quote(file.string())).exitCode, 0);
    std::vector<EventLogRecordFields> records = ReadLog(L"Security");
    ASSERT_EQ(records.size(), 5u);
    const int64_t now = kx::SystemTimeToUnixMilliseconds(kx::platform::GetSystemTimeUtc()) / 1000;
    EXPECT_LE(std::abs(int64_t{records.back().timeGenerated} - now), 60);
    // The spacing stays: 05:12:58 to 05:15:32 in the recording.
    EXPECT_EQ(records.back().timeGenerated - records.front().timeGenerated, 154u);
}

// Recordings of different years can be lined up one after the other in the
// last days, in the order they are imported.
TEST_F(EventLogToolTest, EndAtMovesTheNewestRecordToTheTimeGiven) {
    const std::filesystem::path file = RecordedLogsDir() / "local_group_4732_4733.evtx";
    ASSERT_TRUE(std::filesystem::exists(file)) << "no recorded logs at " << RecordedLogsDir();
    ASSERT_EQ(Tool("import --end-at 2026-03-29T01:30:00Z " + Quote(file.string())).exitCode, 0);
    std::vector<EventLogRecordFields> records = ReadLog(L"Security");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records.back().timeGenerated, 1774747800u);
    EXPECT_EQ(records.front().timeGenerated, 1774747800u - 154u);
    EXPECT_EQ(Tool("import --end-at 1774747800 --shift-to-now " + Quote(file.string())).exitCode,
              2);
    EXPECT_EQ(Tool("import --end-at yesterday " + Quote(file.string())).exitCode, 2);
    EXPECT_EQ(ReadLog(L"Security").size(), 5u);
}
