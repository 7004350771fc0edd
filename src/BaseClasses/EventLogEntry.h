#pragma once
// One event log record as the collector delivered it, with typed access for
// the matching and alert building: identifiers, source, user SID and account,
// time generated, the insertion strings raw and expanded, the message text.
//
// The record is input from outside. Its Length bounds it (the collector
// delivers only records that lie inside its buffer); strings and a SID that
// reach past Length give shortened or empty fields, never a read past it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BaseClasses/EventLogRecord.h"

class CLookupCache;

class CEventLogEntry {
public:
    // Without copy the record's buffer must outlive the entry.
    CEventLogEntry(const std::wstring& computerName, const std::wstring& domainName,
                   const std::wstring& logName, const void* record, bool copy,
                   CLookupCache& lookups);
    CEventLogEntry(const CEventLogEntry&) = delete;
    CEventLogEntry& operator=(const CEventLogEntry&) = delete;

    const std::wstring& GetComputerName() const { return computerName_; }
    const std::wstring& GetDomainName() const { return domainName_; }
    const std::wstring& GetLogName() const { return logName_; }
    // The process's lookups that this record's texts and names come from.
    CLookupCache& GetLookups() const { return lookups_; }

    // The low 16 bits of EventID, the number definitions and users know.
    uint16_t GetEventId() const { return static_cast<uint16_t>(record_.EventId()); }
    // The whole EventID, qualifier bits included: the message identifier.
    uint32_t GetMessageId() const { return record_.EventId(); }
    uint16_t GetEventType() const { return record_.EventType(); }
    uint16_t GetStringCount() const { return static_cast<uint16_t>(raw_.size()); }
    const std::wstring& GetSourceName() const { return sourceName_; }

    // The insertion string at index (below the count; std::out_of_range
    // otherwise), raw or expanded; each is expanded once, on first use (the
    // raw one stands in while there is no memory to expand it).
    const std::wstring& GetString(uint16_t index, bool expanded);
    void GetStrings(std::vector<std::wstring>& strings, bool expanded);
    void ExpandAll();

    // The SID bytes inside the record, or null when it has none (or the
    // record's SID lies outside it); its size in bytes.
    const uint8_t* GetUserSid() const;
    uint32_t GetUserSidLength() const;
    // "S-1-5-21-...", or empty.
    std::wstring GetUserSidString() const;
    // "DOMAIN\name", or the SID string when it does not resolve.
    std::wstring GetUserAccount();

    // TimeGenerated as seconds since 1970. Local: the instant itself, through
    // the local calendar. Not local: the UTC clock reading taken as a local
    // time, so that showing the value as local time shows UTC. A year before
    // 1900 gives 0; a conversion that fails throws std::runtime_error.
    int64_t GetTimeGenerated(bool local) const;

    // The source's message for the event with the expanded strings, or the
    // description text that says it cannot be found, followed by the strings.
    std::wstring GetMessageText();

    // Expands %%n parameter references, %{S-...} SIDs and %{GUID} directory
    // references of one text. Only whole tokens are replaced; a SID text
    // over 259 characters, and a token whose lookup fails in any way, stay
    // as written.
    std::wstring ExpandInsertionString(const std::wstring& text);

private:
    void AppendReplacementOrToken(const std::wstring& token, std::wstring& result);
    std::wstring TokenReplacement(const std::wstring& token, bool* replace);
    std::wstring FormatFromModules();
    const std::wstring& StringAsItStands(std::size_t index) const;
    std::wstring DescriptionNotFound() const;

    std::wstring computerName_;
    std::wstring domainName_;
    std::wstring logName_;
    std::vector<uint8_t> copy_;
    CEventLogRecord record_;
    CLookupCache& lookups_;
    std::wstring sourceName_;
    std::vector<std::wstring> raw_;
    std::vector<std::optional<std::wstring>> expanded_;
};
