#pragma once
// What tells one event record from another that later took its number (a log
// cleared and written again): the record number, the time generated and a
// 64-bit FNV-1a hash of all the record's bytes. Kept with the saved position
// as text, "number time hash" (two decimals and 16 hex digits), the same on
// every platform.

#include <cstdint>
#include <optional>
#include <string>

class CEventRecordIdentity {
public:
    CEventRecordIdentity() = default;
    // A number alone: what the record held is not known.
    explicit CEventRecordIdentity(uint32_t recordNumber) : recordNumber_(recordNumber) {}
    // Of a whole record in the EVENTLOGRECORD layout (its Length bounds it).
    static CEventRecordIdentity Of(const void* record);
    // Nothing when the text is not one that ToText makes.
    static std::optional<CEventRecordIdentity> Parse(const std::wstring& text);

    uint32_t RecordNumber() const { return recordNumber_; }
    bool IsKnown() const { return known_; }
    // Both known and the same record.
    bool SameRecordAs(const CEventRecordIdentity& other) const;
    // Empty when not known.
    std::wstring ToText() const;

private:
    uint32_t recordNumber_ = 0;
    uint32_t timeGenerated_ = 0;
    uint64_t hash_ = 0;
    bool known_ = false;
};
