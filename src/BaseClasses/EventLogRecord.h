#pragma once
// One raw event log record in the platform's EVENTLOGRECORD layout, as
// ReadEventLogW hands it out and as the classic ".evt" file stores it:
//
//   offset  size  field
//        0     4  Length               byte size of the whole record
//        4     4  Reserved             signature "LfLe" (0x654C664C)
//        8     4  RecordNumber
//       12     4  TimeGenerated        seconds since 1970-01-01 UTC
//       16     4  TimeWritten          seconds since 1970-01-01 UTC
//       20     4  EventID              qualifier bits in the high word
//       24     2  EventType
//       26     2  NumStrings
//       28     2  EventCategory
//       30     2  ReservedFlags
//       32     4  ClosingRecordNumber
//       36     4  StringOffset
//       40     4  UserSidLength
//       44     4  UserSidOffset
//       48     4  DataLength
//       52     4  DataOffset
//       56        SourceName (UTF-16LE, NUL), Computername (UTF-16LE, NUL),
//                 padding to 4, UserSid, Strings (UTF-16LE, each NUL),
//                 Data, padding to 4, Length again (4 bytes)
//
// All fields are little-endian. CEventLogRecord reads a record that may lie
// about its offsets and lengths without ever touching a byte outside it;
// BuildEventLogRecord makes one from its fields.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kx::eventlog {

inline constexpr uint32_t kRecordSignature = 0x654C664C;  // "LfLe"
inline constexpr std::size_t kFixedPartSize = 56;
// Fixed part, two empty names and the trailing length.
inline constexpr std::size_t kSmallestRecordSize = kFixedPartSize + 2 + 2 + 4;

inline constexpr std::size_t kOffsetLength = 0;
inline constexpr std::size_t kOffsetReserved = 4;
inline constexpr std::size_t kOffsetRecordNumber = 8;
inline constexpr std::size_t kOffsetTimeGenerated = 12;
inline constexpr std::size_t kOffsetTimeWritten = 16;
inline constexpr std::size_t kOffsetEventId = 20;
inline constexpr std::size_t kOffsetEventType = 24;
inline constexpr std::size_t kOffsetNumStrings = 26;
inline constexpr std::size_t kOffsetEventCategory = 28;
inline constexpr std::size_t kOffsetReservedFlags = 30;
inline constexpr std::size_t kOffsetClosingRecordNumber = 32;
inline constexpr std::size_t kOffsetStringOffset = 36;
inline constexpr std::size_t kOffsetUserSidLength = 40;
inline constexpr std::size_t kOffsetUserSidOffset = 44;
inline constexpr std::size_t kOffsetDataLength = 48;
inline constexpr std::size_t kOffsetDataOffset = 52;
inline constexpr std::size_t kOffsetSourceName = 56;

// Event types as the platform numbers them.
inline constexpr uint16_t kEventTypeSuccess = 0;
inline constexpr uint16_t kEventTypeError = 1;
inline constexpr uint16_t kEventTypeWarning = 2;
inline constexpr uint16_t kEventTypeInformation = 4;
inline constexpr uint16_t kEventTypeAuditSuccess = 8;
inline constexpr uint16_t kEventTypeAuditFailure = 16;

// Little-endian reads from unaligned bytes.
uint16_t ReadUInt16LE(const uint8_t* bytes);
uint32_t ReadUInt32LE(const uint8_t* bytes);
void WriteUInt16LE(uint8_t* bytes, uint16_t value);
void WriteUInt32LE(uint8_t* bytes, uint32_t value);

// How the Length of a record at the start of a buffer compares with the
// bytes that are there: the test a walker of a read buffer needs.
enum class RecordBounds {
    kWhole,             // Length is at least the fixed part and within the bytes
    kTruncatedHeader,   // fewer bytes than the fixed part remain
    kZeroLength,        // Length is 0
    kShorterThanFixed,  // Length is below the fixed part
    kPastAvailable,     // Length reaches past the bytes that are there
};
RecordBounds CheckRecordBounds(const void* bytes, std::size_t available);
const wchar_t* DescribeRecordBounds(RecordBounds bounds);

}  // namespace kx::eventlog

// The fields of one record, for building records and for reading them whole.
struct EventLogRecordFields {
    uint32_t recordNumber = 0;
    uint32_t timeGenerated = 0;
    uint32_t timeWritten = 0;
    uint32_t eventId = 0;
    uint16_t eventType = kx::eventlog::kEventTypeInformation;
    uint16_t eventCategory = 0;
    std::wstring sourceName;
    std::wstring computerName;
    std::vector<uint8_t> userSid;  // binary form, empty for none
    std::vector<std::wstring> strings;
    std::vector<uint8_t> data;
};

// The record bytes for the fields: Windows' layout, byte for byte, with the
// user SID at the next 4-byte boundary after the computer name. Throws
// std::length_error when the record would not fit the 32-bit size fields
// or has more than 65535 strings.
std::vector<uint8_t> BuildEventLogRecord(const EventLogRecordFields& fields);

// A read-only view of one record. It never reads a byte outside
// [bytes, bytes + min(Length, available)); a record whose Length does not
// fit the bytes that are there is not valid and all its accessors give
// zeros or nothing.
class CEventLogRecord {
public:
    CEventLogRecord(const void* bytes, std::size_t available);
    // For a record that the collector delivered: the collector hands out only
    // records whose Length is at least the fixed part and lies inside its
    // buffer, so the record's own Length bounds it.
    static CEventLogRecord FromDeliveredRecord(const void* record);

    bool IsValid() const { return length_ != 0; }
    kx::eventlog::RecordBounds Bounds() const { return bounds_; }
    const uint8_t* Bytes() const { return bytes_; }

    uint32_t Length() const { return length_; }
    uint32_t Signature() const { return Field32(kx::eventlog::kOffsetReserved); }
    uint32_t RecordNumber() const { return Field32(kx::eventlog::kOffsetRecordNumber); }
    uint32_t TimeGenerated() const { return Field32(kx::eventlog::kOffsetTimeGenerated); }
    uint32_t TimeWritten() const { return Field32(kx::eventlog::kOffsetTimeWritten); }
    uint32_t EventId() const { return Field32(kx::eventlog::kOffsetEventId); }
    uint16_t EventType() const { return Field16(kx::eventlog::kOffsetEventType); }
    uint16_t NumStrings() const { return Field16(kx::eventlog::kOffsetNumStrings); }
    uint16_t EventCategory() const { return Field16(kx::eventlog::kOffsetEventCategory); }
    uint32_t ClosingRecordNumber() const {
        return Field32(kx::eventlog::kOffsetClosingRecordNumber);
    }
    uint32_t StringOffset() const { return Field32(kx::eventlog::kOffsetStringOffset); }
    uint32_t UserSidLength() const { return Field32(kx::eventlog::kOffsetUserSidLength); }
    uint32_t UserSidOffset() const { return Field32(kx::eventlog::kOffsetUserSidOffset); }
    uint32_t DataLength() const { return Field32(kx::eventlog::kOffsetDataLength); }
    uint32_t DataOffset() const { return Field32(kx::eventlog::kOffsetDataOffset); }

    // Each of these is empty (nullopt) when the record lies: a string without
    // its NUL inside the record, or an offset and length that reach past it.
    std::optional<std::wstring> SourceName() const;
    std::optional<std::wstring> ComputerName() const;
    // The SID bytes; an empty span when the record has none.
    std::optional<std::span<const uint8_t>> UserSid() const;
    // The NumStrings insertion strings, in order.
    std::optional<std::vector<std::wstring>> Strings() const;
    std::optional<std::span<const uint8_t>> Data() const;
    // Every field at once; nullopt when any part of the record lies.
    std::optional<EventLogRecordFields> ReadFields() const;

    // For a reader that takes what a lying record still holds: the source
    // name and the NumStrings insertion strings, each cut at the record's
    // end; a string that would begin past it is empty.
    std::wstring ClippedSourceName() const;
    std::vector<std::wstring> ClippedStrings() const;

private:
    uint32_t Field32(std::size_t offset) const;
    uint16_t Field16(std::size_t offset) const;
    // A NUL-terminated UTF-16LE string starting at offset; the position after
    // its NUL goes to *next.
    std::optional<std::wstring> StringAt(std::size_t offset, std::size_t* next) const;
    // The same, ending at the record's end when no NUL comes first.
    std::wstring ClippedStringAt(std::size_t offset, std::size_t* next) const;
    // Both bytes of a UTF-16 character at offset lie inside the record.
    bool HasCharacterAt(std::size_t offset) const;
    std::optional<std::span<const uint8_t>> Block(uint32_t offset, uint32_t length) const;

    const uint8_t* bytes_;
    uint32_t length_ = 0;
    kx::eventlog::RecordBounds bounds_;
};
