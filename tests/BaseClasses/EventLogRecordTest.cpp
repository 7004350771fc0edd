#include "BaseClasses/EventLogRecord.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace kx::eventlog;

EventLogRecordFields SampleFields() {
    EventLogRecordFields fields;
    fields.recordNumber = 4711;
    fields.timeGenerated = 1700000000;
    fields.timeWritten = 1700000001;
    fields.eventId = 0x40001000;
    fields.eventType = kEventTypeAuditFailure;
    fields.eventCategory = 12544;
    fields.sourceName = L"Security";
    fields.computerName = L"WS01";
    fields.userSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
    fields.strings = {L"S-1-5-21-1-2-3-500", L"", L"%%1833\r\n\t\t%%1842", L"caf\u00e9 \U0001F600"};
    fields.data = {0xDE, 0xAD, 0xBE};
    return fields;
}

void Put32(std::vector<uint8_t>& record, std::size_t offset, uint32_t value) {
    WriteUInt32LE(record.data() + offset, value);
}

}  // namespace

TEST(EventLogRecordTest, SmallRecordHasWindowsLayoutByteForByte) {
    EventLogRecordFields fields;
    fields.recordNumber = 7;
    fields.timeGenerated = 0x11223344;
    fields.timeWritten = 0x55667788;
    fields.eventId = 0xC0000011;
    fields.eventType = kEventTypeError;
    fields.eventCategory = 3;
    fields.sourceName = L"S";
    fields.computerName = L"C";
    fields.strings = {L"x"};
    std::vector<uint8_t> record = BuildEventLogRecord(fields);
    const std::vector<uint8_t> expected = {
        72,   0,    0,    0,    'L',  'f', 'L', 'e',  7,   0, 0, 0, 0x44, 0x33, 0x22, 0x11,  //
        0x88, 0x77, 0x66, 0x55, 0x11, 0,   0,   0xC0, 1,   0, 1, 0, 3,    0,    0,    0,     //
        0,    0,    0,    0,    64,   0,   0,   0,    0,   0, 0, 0, 64,   0,    0,    0,     //
        0,    0,    0,    0,    68,   0,   0,   0,    'S', 0, 0, 0, 'C',  0,    0,    0,     //
        'x',  0,    0,    0,    72,   0,   0,   0};
    EXPECT_EQ(record, expected);
}

TEST(EventLogRecordTest, SidIsAlignedAndDataIsPaddedBeforeTheTrailingLength) {
    EventLogRecordFields fields = SampleFields();
    fields.sourceName = L"Src";  // 8 bytes: the computer name ends off a 4-byte boundary
    std::vector<uint8_t> record = BuildEventLogRecord(fields);
    CEventLogRecord view(record.data(), record.size());
    ASSERT_TRUE(view.IsValid());
    EXPECT_EQ(view.UserSidOffset() % 4, 0u);
    EXPECT_EQ(view.UserSidOffset(), 56u + 8u + 10u + 2u);
    EXPECT_EQ(view.StringOffset(), view.UserSidOffset() + 12);
    EXPECT_EQ(view.Length() % 4, 0u);
    EXPECT_EQ(ReadUInt32LE(record.data() + record.size() - 4), view.Length());
    const uint32_t dataEnd = view.DataOffset() + view.DataLength();
    EXPECT_EQ(dataEnd % 4, 1u) << "the sample's data ends one byte past a boundary";
    EXPECT_EQ(dataEnd + 3 + 4, view.Length()) << "three pad bytes, then the length";
    EXPECT_EQ(record[dataEnd], 0);
    EXPECT_EQ(record[dataEnd + 2], 0);
}

TEST(EventLogRecordTest, ReadsBackEveryField) {
    EventLogRecordFields fields = SampleFields();
    std::vector<uint8_t> record = BuildEventLogRecord(fields);
    CEventLogRecord view(record.data(), record.size());
    EXPECT_EQ(view.Signature(), kRecordSignature);
    EXPECT_EQ(view.RecordNumber(), 4711u);
    EXPECT_EQ(view.EventId(), 0x40001000u);
    EXPECT_EQ(view.EventType(), kEventTypeAuditFailure);
    EXPECT_EQ(view.EventCategory(), 12544);
    EXPECT_EQ(view.NumStrings(), 4);
    std::optional<EventLogRecordFields> back = view.ReadFields();
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->sourceName, fields.sourceName);
    EXPECT_EQ(back->computerName, fields.computerName);
    EXPECT_EQ(back->userSid, fields.userSid);
    EXPECT_EQ(back->strings, fields.strings);
    EXPECT_EQ(back->data, fields.data);
    EXPECT_EQ(back->timeGenerated, fields.timeGenerated);
    EXPECT_EQ(back->timeWritten, fields.timeWritten);
    EXPECT_EQ(CEventLogRecord::FromDeliveredRecord(record.data()).RecordNumber(), 4711u);
}

TEST(EventLogRecordTest, RecordWithoutSidStringsOrData) {
    EventLogRecordFields fields;
    std::vector<uint8_t> record = BuildEventLogRecord(fields);
    EXPECT_EQ(record.size(), kSmallestRecordSize);
    CEventLogRecord view(record.data(), record.size());
    EXPECT_TRUE(view.UserSid().has_value());
    EXPECT_TRUE(view.UserSid()->empty());
    EXPECT_TRUE(view.Strings()->empty());
    EXPECT_TRUE(view.Data()->empty());
}

TEST(EventLogRecordTest, LengthIsCheckedAgainstTheBytesThatAreThere) {
    std::vector<uint8_t> record = BuildEventLogRecord(SampleFields());
    EXPECT_EQ(CheckRecordBounds(record.data(), record.size()), RecordBounds::kWhole);
    EXPECT_EQ(CheckRecordBounds(record.data(), record.size() - 1), RecordBounds::kPastAvailable);
    EXPECT_EQ(CheckRecordBounds(record.data(), kFixedPartSize - 1), RecordBounds::kTruncatedHeader);
    Put32(record, kOffsetLength, 0);
    EXPECT_EQ(CheckRecordBounds(record.data(), record.size()), RecordBounds::kZeroLength);
    Put32(record, kOffsetLength, kFixedPartSize - 4);
    EXPECT_EQ(CheckRecordBounds(record.data(), record.size()), RecordBounds::kShorterThanFixed);
    CEventLogRecord invalid(record.data(), record.size());
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_EQ(invalid.RecordNumber(), 0u);
    EXPECT_FALSE(invalid.SourceName().has_value());
    EXPECT_FALSE(invalid.ReadFields().has_value());
    EXPECT_FALSE(CEventLogRecord(nullptr, 100).IsValid());
}

// Offsets and lengths that point outside the record: the view answers
// nothing for that part and reads nothing outside the record (the tests run
// under AddressSanitizer with records in exact-size heap buffers).
TEST(EventLogRecordTest, OffsetsAndLengthsThatLieGiveNothing) {
    const std::vector<uint8_t> good = BuildEventLogRecord(SampleFields());
    auto spoiled = [&](auto change) {
        auto record = std::make_unique<uint8_t[]>(good.size());
        std::copy(good.begin(), good.end(), record.get());
        std::vector<uint8_t> copy(good);
        change(copy);
        std::copy(copy.begin(), copy.end(), record.get());
        return record;
    };
    const std::size_t size = good.size();
    auto strings = spoiled([&](auto& r) { Put32(r, kOffsetStringOffset, 0xFFFFFFF0); });
    EXPECT_FALSE(CEventLogRecord(strings.get(), size).Strings().has_value());
    auto count = spoiled([&](auto& r) { WriteUInt16LE(r.data() + kOffsetNumStrings, 60000); });
    EXPECT_FALSE(CEventLogRecord(count.get(), size).Strings().has_value());
    auto sid = spoiled([&](auto& r) {
        Put32(r, kOffsetUserSidOffset, 0xFFFFFFFC);
        Put32(r, kOffsetUserSidLength, 8);  // wraps around in 32 bits
    });
    EXPECT_FALSE(CEventLogRecord(sid.get(), size).UserSid().has_value());
    auto data = spoiled([&](auto& r) { Put32(r, kOffsetDataLength, static_cast<uint32_t>(size)); });
    EXPECT_FALSE(CEventLogRecord(data.get(), size).Data().has_value());
    auto names = spoiled([&](auto& r) {
        for (std::size_t i = kOffsetSourceName; i < r.size(); ++i) r[i] = 'A';
    });
    CEventLogRecord unterminated(names.get(), size);
    EXPECT_FALSE(unterminated.SourceName().has_value());
    EXPECT_FALSE(unterminated.ComputerName().has_value());
    EXPECT_FALSE(unterminated.ReadFields().has_value());
    EXPECT_EQ(unterminated.RecordNumber(), 4711u) << "the fixed part is still there";
}

TEST(EventLogRecordTest, BuilderRejectsMoreStringsThanTheCountHolds) {
    EventLogRecordFields fields;
    fields.strings.assign(65536, L"");
    EXPECT_THROW(BuildEventLogRecord(fields), std::length_error);
}
