// The Linux event log: ".evt" files under the machine root.
#ifndef _WIN32

#include <gtest/gtest.h>

#include "BaseClasses/EventLogRecord.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"

namespace {

using namespace kx::platform;
using kx::eventlog::ReadUInt32LE;

class EventLogFileTest : public ::testing::Test {
protected:
    void SetUp() override { SetMachineRootForTesting(dir_.WidePath()); }
    void TearDown() override {
        for (EventLogHandle handle : handles_) log_.Close(handle);
        SetMachineRootForTesting(L"");
    }

    EventLogHandle Open(const wchar_t* name = L"Security", const wchar_t* server = nullptr) {
        EventLogHandle handle = log_.Open(server, name);
        if (handle) handles_.push_back(handle);
        return handle;
    }
    static EventLogRecordFields Fields(const std::wstring& text, uint32_t time = 1700000000) {
        EventLogRecordFields fields;
        fields.timeGenerated = fields.timeWritten = time;
        fields.eventId = 4624;
        fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
        fields.sourceName = L"Microsoft-Windows-Security-Auditing";
        fields.computerName = L"WS01";
        fields.strings = {text};
        return fields;
    }
    uint32_t Append(int count, const std::wstring& log = L"Security") {
        std::vector<std::vector<uint8_t>> records;
        for (int i = 0; i < count; ++i)
            records.push_back(BuildEventLogRecord(Fields(L"record " + std::to_wstring(i))));
        uint32_t first = 0;
        EXPECT_TRUE(AppendEventLogRecords(log, records, &first)) << GetLastErrorCode();
        return first;
    }
    struct ReadResult {
        bool ok;
        uint32_t error;
        std::vector<uint8_t> bytes;
        uint32_t needed;
    };
    ReadResult Read(EventLogHandle handle, uint32_t flags, uint32_t offset, uint32_t size) {
        std::vector<uint8_t> buffer(size);
        uint32_t read = 0;
        uint32_t needed = 0;
        SetLastErrorCode(0);
        bool ok =
            log_.Read(handle, flags, offset, size ? buffer.data() : nullptr, size, &read, &needed);
        buffer.resize(ok ? read : 0);
        return ReadResult{ok, ok ? 0 : GetLastErrorCode(), buffer, needed};
    }
    static std::vector<uint32_t> Numbers(const std::vector<uint8_t>& bytes) {
        std::vector<uint32_t> numbers;
        for (std::size_t at = 0; at < bytes.size(); at += ReadUInt32LE(&bytes[at])) {
            CEventLogRecord record(&bytes[at], bytes.size() - at);
            if (!record.IsValid()) break;
            numbers.push_back(record.RecordNumber());
        }
        return numbers;
    }
    std::string FileBytes(const std::wstring& log = L"Security") {
        return ReadFileBytes(kx::WideToUtf8(GetEventLogFilePath(log)));
    }
    uint32_t Oldest(EventLogHandle handle) {
        uint32_t value = 99;
        EXPECT_TRUE(log_.GetOldestRecord(handle, &value));
        return value;
    }
    uint32_t Count(EventLogHandle handle) {
        uint32_t value = 99;
        EXPECT_TRUE(log_.GetNumberOfRecords(handle, &value));
        return value;
    }

    static constexpr uint32_t kSeek = kEventLogSeekRead | kEventLogForwardsRead;
    static constexpr uint32_t kNext = kEventLogSequentialRead | kEventLogForwardsRead;

    CTempDirectory dir_;
    IEventLog& log_ = GetEventLog();
    std::vector<EventLogHandle> handles_;
};

using Numbers_ = std::vector<uint32_t>;

TEST_F(EventLogFileTest, ALogWithoutAFileIsEmpty) {
    EventLogHandle handle = Open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(Oldest(handle), 0u);
    EXPECT_EQ(Count(handle), 0u);
    EXPECT_EQ(Read(handle, kNext, 0, 1000).error, kErrorHandleEof);
    EXPECT_EQ(Read(handle, kSeek, 1, 0).error, kErrorInvalidParameter);
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "EventLogs")) << "reading creates nothing";
}

TEST_F(EventLogFileTest, FileIsAClassicEvtFileWithHeaderRecordsAndEndOfFileRecord) {
    Append(2);
    std::string file = FileBytes();
    ASSERT_EQ(file.substr(0, 8), std::string("\x30\0\0\0LfLe", 8));
    auto field = [&](std::size_t offset) {
        return ReadUInt32LE(reinterpret_cast<const uint8_t*>(file.data()) + offset);
    };
    const uint32_t first = field(0x30);
    const uint32_t second = field(0x30 + first);
    const uint32_t eof = 0x30 + first + second;
    EXPECT_EQ(field(16), 0x30u) << "start offset";
    EXPECT_EQ(field(20), eof) << "end offset";
    EXPECT_EQ(field(24), 3u) << "current record number";
    EXPECT_EQ(field(28), 1u) << "oldest record number";
    EXPECT_EQ(field(36), 0u) << "flags: clean";
    EXPECT_EQ(field(44), 0x30u);
    EXPECT_EQ(file.size(), eof + 0x28u);
    EXPECT_EQ(field(eof), 0x28u);
    EXPECT_EQ(field(eof + 4), 0x11111111u);
    EXPECT_EQ(field(eof + 16), 0x44444444u);
    EXPECT_EQ(field(eof + 20), 0x30u);
    EXPECT_EQ(field(eof + 24), eof);
    EXPECT_EQ(field(eof + 28), 3u);
    EXPECT_EQ(field(eof + 32), 1u);
    EXPECT_EQ(field(eof + 36), 0x28u);
    // The stored record is what the builder makes, with the log's number.
    EventLogRecordFields fields = Fields(L"record 1");
    fields.recordNumber = 2;
    std::vector<uint8_t> expected = BuildEventLogRecord(fields);
    EXPECT_EQ(file.substr(0x30 + first, second), std::string(expected.begin(), expected.end()));
}

TEST_F(EventLogFileTest, SeekReadAsksForTheSizeThenReadsTheRecordAndPositionsTheHandle) {
    Append(5);
    EventLogHandle handle = Open();
    EXPECT_EQ(Oldest(handle), 1u);
    EXPECT_EQ(Count(handle), 5u);
    ReadResult probe = Read(handle, kSeek, 3, 0);
    EXPECT_EQ(probe.error, kErrorInsufficientBuffer);
    ReadResult exact = Read(handle, kSeek, 3, probe.needed);
    ASSERT_TRUE(exact.ok);
    EXPECT_EQ(exact.bytes.size(), probe.needed);
    EXPECT_EQ(Numbers(exact.bytes), Numbers_{3});
    EXPECT_EQ(CEventLogRecord(exact.bytes.data(), exact.bytes.size()).Strings()->at(0),
              L"record 2");
    EXPECT_EQ(Numbers(Read(handle, kNext, 0, kMaximumEventLogReadSize).bytes), (Numbers_{4, 5}));
    EXPECT_EQ(Read(handle, kNext, 0, kMaximumEventLogReadSize).error, kErrorHandleEof);
    EXPECT_EQ(Read(handle, kSeek, 6, 0).error, kErrorInvalidParameter) << "newest + 1";
    EXPECT_EQ(Read(handle, kSeek, 0, 0).error, kErrorInvalidParameter);
}

TEST_F(EventLogFileTest, SequentialReadReturnsOnlyWholeRecordsThatFit) {
    Append(3);
    EventLogHandle handle = Open();
    const uint32_t length = static_cast<uint32_t>(BuildEventLogRecord(Fields(L"record 0")).size());
    EXPECT_EQ(Numbers(Read(handle, kNext, 0, length * 2 + length / 2).bytes), (Numbers_{1, 2}));
    ReadResult small = Read(handle, kNext, 0, length - 1);
    EXPECT_EQ(small.error, kErrorInsufficientBuffer);
    EXPECT_EQ(small.needed, length);
    EXPECT_EQ(Numbers(Read(handle, kNext, 0, length).bytes), Numbers_{3});
}

// Found by fuzzing: a buffer that ends a few bytes into the next record had
// those bytes read past its end as the record's signature and number, and a
// sound log was reported corrupt (or the read went out of bounds).
TEST_F(EventLogFileTest, ABufferEndingInsideTheNextRecordsHeaderReadsTheWholeOnes) {
    Append(3);
    EventLogHandle handle = Open();
    const uint32_t length = static_cast<uint32_t>(BuildEventLogRecord(Fields(L"record 0")).size());
    for (uint32_t extra : {4u, 8u, 11u}) {
        ReadResult read = Read(handle, kSeek, 1, length + extra);
        EXPECT_TRUE(read.ok) << extra << " bytes more: error " << read.error;
        EXPECT_EQ(Numbers(read.bytes), Numbers_{1}) << extra << " bytes more";
    }
}

TEST_F(EventLogFileTest, RecordsAppendedWhileAHandleIsOpenAreReadByIt) {
    Append(1);
    EventLogHandle handle = Open();
    EXPECT_EQ(Numbers(Read(handle, kNext, 0, 4096).bytes), Numbers_{1});
    EXPECT_EQ(Read(handle, kNext, 0, 4096).error, kErrorHandleEof);
    Append(2);
    EXPECT_EQ(Numbers(Read(handle, kNext, 0, 4096).bytes), (Numbers_{2, 3}));
    EXPECT_EQ(Count(handle), 3u);
}

TEST_F(EventLogFileTest, BadArgumentsFailAsOnWindows) {
    Append(1);
    EventLogHandle handle = Open();
    EXPECT_EQ(
        Read(handle, kEventLogSeekRead | kEventLogSequentialRead | kEventLogForwardsRead, 1, 100)
            .error,
        kErrorInvalidParameter);
    EXPECT_EQ(Read(handle, kEventLogSequentialRead, 0, 100).error, kErrorInvalidParameter);
    EXPECT_EQ(Read(handle, kNext, 0, kMaximumEventLogReadSize + 1).error, kErrorInvalidParameter);
    int notAHandle = 0;
    uint32_t value = 0;
    EXPECT_FALSE(log_.GetOldestRecord(&notAHandle, &value));
    EXPECT_EQ(GetLastErrorCode(), kErrorInvalidHandle);
    EXPECT_EQ(Open(L""), nullptr);
    EXPECT_EQ(Open(L"../Security"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), kErrorInvalidParameter);
}

TEST_F(EventLogFileTest, OnlyTheLocalComputerOpens) {
    const std::wstring local = GetLocalComputerName();
    EXPECT_NE(Open(L"Security", local.c_str()), nullptr);
    EXPECT_NE(Open(L"Security", kx::ToLower(local).c_str()), nullptr);
    EXPECT_NE(Open(L"Security", (L"\\\\" + local).c_str()), nullptr);
    EXPECT_NE(Open(L"Security", L""), nullptr);
    EXPECT_EQ(Open(L"Security", L"OTHER-HOST"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), kErrorBadNetPath);
    EXPECT_EQ(log_.RegisterSource(L"OTHER-HOST", L"Source"), nullptr);
    EXPECT_EQ(GetLastErrorCode(), kErrorBadNetPath);
}

TEST_F(EventLogFileTest, LogNamesIgnoreCase) {
    Append(2, L"Security");
    EventLogHandle handle = Open(L"SECURITY");
    EXPECT_EQ(Count(handle), 2u);
    Append(1, L"security");
    EXPECT_EQ(Count(handle), 3u);
}

TEST_F(EventLogFileTest, ClearStartsTheNumberingAgainAndAnOpenHandleSeesTheChange) {
    Append(4);
    EventLogHandle before = Open();
    EventLogHandle clearer = Open();
    ASSERT_TRUE(log_.Clear(clearer));
    uint32_t value = 0;
    EXPECT_FALSE(log_.GetNumberOfRecords(before, &value));
    EXPECT_EQ(GetLastErrorCode(), kErrorEventLogFileChanged);
    EventLogHandle after = Open();
    EXPECT_EQ(Oldest(after), 0u);
    EXPECT_EQ(Count(after), 0u);
    EXPECT_EQ(Append(1), 1u);
    EXPECT_EQ(Oldest(after), 1u) << "appending keeps the file, so the handle sees it";
    EXPECT_EQ(Count(after), 1u);
}

TEST_F(EventLogFileTest, TrimDropsTheOldestAndKeepsTheNumbering) {
    Append(10);
    EventLogHandle warm = Open();
    EXPECT_TRUE(Read(warm, kSeek, 9, 4096).ok);  // fills the process's index of the old file
    ASSERT_TRUE(TrimEventLog(L"Security", 3));
    EventLogHandle handle = Open();
    EXPECT_EQ(Oldest(handle), 8u);
    EXPECT_EQ(Count(handle), 3u);
    EXPECT_EQ(Numbers(Read(handle, kNext, 0, 4096).bytes), (Numbers_{8, 9, 10}));
    EXPECT_EQ(Numbers(Read(handle, kSeek, 9, 4096).bytes), (Numbers_{9, 10}));
    EXPECT_EQ(Read(handle, kSeek, 7, 0).error, kErrorInvalidParameter);
    EXPECT_EQ(Append(1), 11u);
    EXPECT_TRUE(TrimEventLog(L"Security", 100)) << "keeping more than there is changes nothing";
    ASSERT_TRUE(TrimEventLog(L"Security", 0));
    EventLogHandle empty = Open();
    EXPECT_EQ(Count(empty), 0u);
    EXPECT_EQ(Append(1), 12u);
}

TEST_F(EventLogFileTest, ReportWritesToTheApplicationLogWithTheLocalComputerName) {
    EventSourceHandle source = log_.RegisterSource(nullptr, L"Korvex Agent");
    ASSERT_NE(source, nullptr);
    const wchar_t* strings[] = {L"first", L"zweite \u00fc"};
    const uint8_t sid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
    const uint8_t data[] = {1, 2, 3};
    ASSERT_TRUE(log_.Report(source, 1, 5, 0x40000011, sid, 2, strings, 3, data));
    ASSERT_TRUE(log_.Report(source, 4, 0, 2, nullptr, 0, nullptr, 0, nullptr));
    const uint8_t notASid[] = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_FALSE(log_.Report(source, 4, 0, 2, notASid, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(log_.DeregisterSource(source));
    EXPECT_FALSE(log_.DeregisterSource(source));
    EventLogHandle handle = Open(L"Application");
    ReadResult result = Read(handle, kNext, 0, 4096);
    ASSERT_EQ(Numbers(result.bytes), (Numbers_{1, 2}));
    std::optional<EventLogRecordFields> fields =
        CEventLogRecord(result.bytes.data(), result.bytes.size()).ReadFields();
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(fields->eventId, 0x40000011u);
    EXPECT_EQ(fields->eventType, 1);
    EXPECT_EQ(fields->eventCategory, 5);
    EXPECT_EQ(fields->sourceName, L"Korvex Agent");
    EXPECT_EQ(fields->computerName, GetLocalComputerName());
    EXPECT_EQ(fields->userSid, std::vector<uint8_t>(sid, sid + sizeof sid));
    EXPECT_EQ(fields->strings, (std::vector<std::wstring>{L"first", L"zweite \u00fc"}));
    EXPECT_EQ(fields->data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_GT(fields->timeGenerated, 1600000000u);
    EXPECT_EQ(fields->timeWritten, fields->timeGenerated);
}

TEST_F(EventLogFileTest, ACorruptFileIsReportedNotRead) {
    Append(3);
    std::string file = FileBytes();
    std::string spoiled = file;
    spoiled[0x30 + 1] = '\x7F';  // the first record's length
    WriteFileBytes(kx::WideToUtf8(GetEventLogFilePath(L"Security")), spoiled);
    EventLogHandle handle = Open();
    EXPECT_EQ(Read(handle, kNext, 0, 4096).error, kErrorEventLogFileCorrupt);
    EXPECT_EQ(Read(handle, kSeek, 2, 0).error, kErrorEventLogFileCorrupt);
    WriteFileBytes(kx::WideToUtf8(GetEventLogFilePath(L"Security")), "not an event log at all, no");
    EventLogHandle garbage = Open();
    uint32_t value = 0;
    EXPECT_FALSE(log_.GetOldestRecord(garbage, &value));
    EXPECT_EQ(GetLastErrorCode(), kErrorEventLogFileCorrupt);
    EXPECT_FALSE(AppendEventLogRecords(L"Security", {BuildEventLogRecord(Fields(L"x"))}, nullptr))
        << "nothing is appended to a file that is not a log";
}

TEST_F(EventLogFileTest, AppendRejectsBytesThatAreNotARecord) {
    std::vector<uint8_t> record = BuildEventLogRecord(Fields(L"x"));
    record.push_back(0);
    EXPECT_FALSE(AppendEventLogRecords(L"Security", {record}, nullptr));
    EXPECT_EQ(GetLastErrorCode(), kErrorInvalidParameter);
}

}  // namespace

#endif  // _WIN32
