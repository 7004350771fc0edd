#include "RecordEntry.h"

#include "platform/Accounts.h"

CRecordEntry::CRecordEntry() : lookups_(std::make_unique<CLookupCache>()) {}

CEventLogEntry& CRecordEntry::Make(uint32_t eventId, std::vector<std::wstring> strings,
                                   const std::wstring& sid, uint32_t timeGenerated) {
    EventLogRecordFields fields;
    fields.eventId = eventId;
    fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
    fields.sourceName = kSource;
    fields.computerName = Computer();
    fields.timeGenerated = timeGenerated;
    fields.timeWritten = timeGenerated;
    fields.strings = std::move(strings);
    if (!sid.empty()) kx::platform::ConvertStringToSid(sid, fields.userSid);
    return Make(fields);
}

CEventLogEntry& CRecordEntry::Make(const EventLogRecordFields& fields) {
    entry_.reset();
    bytes_ = BuildEventLogRecord(fields);
    entry_.emplace(Computer(), kDomain, L"Security", bytes_.data(), false, *lookups_);
    return *entry_;
}
