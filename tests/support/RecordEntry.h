#pragma once
// An event record of a test's own as the collector would deliver it, read
// through CEventLogEntry with a lookup cache over a registry sandbox.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "RegistrySandbox.h"

class CRecordEntry {
public:
    static constexpr const wchar_t* kDomain = L"corp.example.test";
    static constexpr const wchar_t* kSource = L"Microsoft-Windows-Security-Auditing";

    CRecordEntry();
    // A Security record of the auditing source, audit success, with these
    // strings, user SID (text, empty for none) and time generated.
    CEventLogEntry& Make(uint32_t eventId, std::vector<std::wstring> strings,
                         const std::wstring& sid = L"", uint32_t timeGenerated = 1425445567);
    CEventLogEntry& Make(const EventLogRecordFields& fields);
    CLookupCache& Lookups() { return *lookups_; }
    // The computer the records are of: this one, as the agent reads its own log.
    const std::wstring& Computer() const { return lookups_->LocalComputerName(); }

private:
    CRegistrySandbox sandbox_;
    std::unique_ptr<CLookupCache> lookups_;
    std::vector<uint8_t> bytes_;
    std::optional<CEventLogEntry> entry_;
};
