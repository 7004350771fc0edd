#include "BaseClasses/EventLogRecord.h"

#include <limits>
#include <stdexcept>

#include "common/Text.h"

namespace kx::eventlog {

uint16_t ReadUInt16LE(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t ReadUInt32LE(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void WriteUInt16LE(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void WriteUInt32LE(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

RecordBounds CheckRecordBounds(const void* bytes, std::size_t available) {
    if (available < kFixedPartSize) return RecordBounds::kTruncatedHeader;
    uint32_t length = ReadUInt32LE(static_cast<const uint8_t*>(bytes));
    if (length == 0) return RecordBounds::kZeroLength;
    if (length < kFixedPartSize) return RecordBounds::kShorterThanFixed;
    if (length > available) return RecordBounds::kPastAvailable;
    return RecordBounds::kWhole;
}

const wchar_t* DescribeRecordBounds(RecordBounds bounds) {
    switch (bounds) {
        case RecordBounds::kWhole:
            return L"whole";
        case RecordBounds::kTruncatedHeader:
            return L"fewer bytes than a record's fixed part remain";
        case RecordBounds::kZeroLength:
            return L"its length is 0";
        case RecordBounds::kShorterThanFixed:
            return L"its length is shorter than a record's fixed part";
        case RecordBounds::kPastAvailable:
            return L"its length reaches past the bytes read";
    }
    return L"";
}

}  // namespace kx::eventlog

namespace {

using namespace kx::eventlog;

void AppendUtf16String(std::vector<uint8_t>& out, const std::wstring& text) {
    std::string bytes = kx::WideToUtf16LE(text);
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.push_back(0);
    out.push_back(0);
}

void PadToFour(std::vector<uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

uint32_t CheckedSize(std::size_t size) {
    if (size > std::numeric_limits<uint32_t>::max())
        throw std::length_error("event log record too large");
    return static_cast<uint32_t>(size);
}

}  // namespace

std::vector<uint8_t> BuildEventLogRecord(const EventLogRecordFields& fields) {
    if (fields.strings.size() > std::numeric_limits<uint16_t>::max())
        throw std::length_error("too many insertion strings");
    std::vector<uint8_t> out(kFixedPartSize, 0);
    AppendUtf16String(out, fields.sourceName);
    AppendUtf16String(out, fields.computerName);
    PadToFour(out);
    const uint32_t sidOffset = CheckedSize(out.size());
    out.insert(out.end(), fields.userSid.begin(), fields.userSid.end());
    const uint32_t stringOffset = CheckedSize(out.size());
    for (const std::wstring& text : fields.strings) AppendUtf16String(out, text);
    const uint32_t dataOffset = CheckedSize(out.size());
    out.insert(out.end(), fields.data.begin(), fields.data.end());
    PadToFour(out);
    const uint32_t length = CheckedSize(out.size() + 4);
    out.resize(length);

    uint8_t* p = out.data();
    WriteUInt32LE(p + kOffsetLength, length);
    WriteUInt32LE(p + kOffsetReserved, kRecordSignature);
    WriteUInt32LE(p + kOffsetRecordNumber, fields.recordNumber);
    WriteUInt32LE(p + kOffsetTimeGenerated, fields.timeGenerated);
    WriteUInt32LE(p + kOffsetTimeWritten, fields.timeWritten);
    WriteUInt32LE(p + kOffsetEventId, fields.eventId);
    WriteUInt16LE(p + kOffsetEventType, fields.eventType);
    WriteUInt16LE(p + kOffsetNumStrings, static_cast<uint16_t>(fields.strings.size()));
    WriteUInt16LE(p + kOffsetEventCategory, fields.eventCategory);
    WriteUInt32LE(p + kOffsetStringOffset, stringOffset);
    WriteUInt32LE(p + kOffsetUserSidLength, CheckedSize(fields.userSid.size()));
    WriteUInt32LE(p + kOffsetUserSidOffset, sidOffset);
    WriteUInt32LE(p + kOffsetDataLength, CheckedSize(fields.data.size()));
    WriteUInt32LE(p + kOffsetDataOffset, dataOffset);
    WriteUInt32LE(p + length - 4, length);
    return out;
}

CEventLogRecord::CEventLogRecord(const void* bytes, std::size_t available)
    : bytes_(static_cast<const uint8_t*>(bytes)),
      bounds_(bytes ? CheckRecordBounds(bytes, available) : RecordBounds::kTruncatedHeader) {
    if (bounds_ == RecordBounds::kWhole) length_ = ReadUInt32LE(bytes_);
}

CEventLogRecord CEventLogRecord::FromDeliveredRecord(const void* record) {
    if (!record) return CEventLogRecord(nullptr, 0);
    return CEventLogRecord(record, ReadUInt32LE(static_cast<const uint8_t*>(record)));
}

uint32_t CEventLogRecord::Field32(std::size_t offset) const {
    return IsValid() ? ReadUInt32LE(bytes_ + offset) : 0;
}

uint16_t CEventLogRecord::Field16(std::size_t offset) const {
    return IsValid() ? ReadUInt16LE(bytes_ + offset) : 0;
}

std::optional<std::wstring> CEventLogRecord::StringAt(std::size_t offset, std::size_t* next) const {
    if (!IsValid()) return std::nullopt;
    for (std::size_t end = offset; HasCharacterAt(end); end += 2) {
        if (bytes_[end] == 0 && bytes_[end + 1] == 0) {
            *next = end + 2;
            return kx::Utf16LEToWide(bytes_ + offset, end - offset);
        }
    }
    return std::nullopt;
}

bool CEventLogRecord::HasCharacterAt(std::size_t offset) const {
    // Not offset + 2 <= length_: an offset from the record may be near the
    // top of a 32-bit size_t, where that sum wraps.
    return offset < length_ && length_ - offset >= 2;
}

std::wstring CEventLogRecord::ClippedStringAt(std::size_t offset, std::size_t* next) const {
    std::size_t end = offset;
    while (HasCharacterAt(end) && (bytes_[end] != 0 || bytes_[end + 1] != 0)) end += 2;
    *next = HasCharacterAt(end) ? end + 2 : length_;
    return end > offset ? kx::Utf16LEToWide(bytes_ + offset, end - offset) : std::wstring();
}

std::optional<std::span<const uint8_t>> CEventLogRecord::Block(uint32_t offset,
                                                               uint32_t length) const {
    if (!IsValid()) return std::nullopt;
    // 64-bit sum: an offset and a length that each fit may still overflow together.
    if (uint64_t{offset} + length > length_) return std::nullopt;
    return std::span<const uint8_t>(bytes_ + offset, length);
}

std::optional<std::wstring> CEventLogRecord::SourceName() const {
    std::size_t next = 0;
    return StringAt(kOffsetSourceName, &next);
}

std::optional<std::wstring> CEventLogRecord::ComputerName() const {
    std::size_t next = 0;
    if (!StringAt(kOffsetSourceName, &next)) return std::nullopt;
    return StringAt(next, &next);
}

std::optional<std::span<const uint8_t>> CEventLogRecord::UserSid() const {
    if (!IsValid()) return std::nullopt;
    if (UserSidLength() == 0) return std::span<const uint8_t>();
    return Block(UserSidOffset(), UserSidLength());
}

std::optional<std::vector<std::wstring>> CEventLogRecord::Strings() const {
    if (!IsValid()) return std::nullopt;
    std::vector<std::wstring> strings;
    std::size_t offset = StringOffset();
    for (uint16_t i = 0; i < NumStrings(); ++i) {
        std::optional<std::wstring> text = StringAt(offset, &offset);
        if (!text) return std::nullopt;
        strings.push_back(std::move(*text));
    }
    return strings;
}

std::optional<std::span<const uint8_t>> CEventLogRecord::Data() const {
    if (!IsValid()) return std::nullopt;
    if (DataLength() == 0) return std::span<const uint8_t>();
    return Block(DataOffset(), DataLength());
}

std::optional<EventLogRecordFields> CEventLogRecord::ReadFields() const {
    auto source = SourceName();
    auto computer = ComputerName();
    auto sid = UserSid();
    auto strings = Strings();
    auto data = Data();
    if (!source || !computer || !sid || !strings || !data) return std::nullopt;
    EventLogRecordFields fields;
    fields.recordNumber = RecordNumber();
    fields.timeGenerated = TimeGenerated();
    fields.timeWritten = TimeWritten();
    fields.eventId = EventId();
    fields.eventType = EventType();
    fields.eventCategory = EventCategory();
    fields.sourceName = std::move(*source);
    fields.computerName = std::move(*computer);
    fields.userSid.assign(sid->begin(), sid->end());
    fields.strings = std::move(*strings);
    fields.data.assign(data->begin(), data->end());
    return fields;
}

std::wstring CEventLogRecord::ClippedSourceName() const {
    std::size_t next = 0;
    return IsValid() ? ClippedStringAt(kOffsetSourceName, &next) : std::wstring();
}

std::vector<std::wstring> CEventLogRecord::ClippedStrings() const {
    std::vector<std::wstring> strings(NumStrings());
    std::size_t offset = StringOffset();
    for (std::wstring& text : strings) text = ClippedStringAt(offset, &offset);
    return strings;
}
