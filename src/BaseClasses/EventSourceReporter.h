#pragma once
// Writes entries to the event log under one event source, keeping the source
// registered between reports.

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/EventLog.h"

class CEventSourceReporter {
public:
    // Stores nothing and registers nothing.
    CEventSourceReporter();
    explicit CEventSourceReporter(kx::platform::IEventLog& eventLog);
    // Stores both names and registers the source; server null means the
    // local computer.
    CEventSourceReporter(const wchar_t* server, const wchar_t* source);
    CEventSourceReporter(const wchar_t* server, const wchar_t* source,
                         kx::platform::IEventLog& eventLog);
    ~CEventSourceReporter();
    CEventSourceReporter(const CEventSourceReporter&) = delete;
    CEventSourceReporter& operator=(const CEventSourceReporter&) = delete;

    // Deregisters any source held and registers this one (the names are not
    // stored); true when a source was obtained.
    bool Register(const wchar_t* server, const wchar_t* source);
    // Writes one entry; registers again with the stored names first when no
    // source is held. False when there is still none, or the write fails.
    bool Report(uint16_t type, uint16_t category, uint32_t eventId, const void* userSid,
                uint16_t stringCount, const wchar_t* const* strings);
    // Report with category 0 and the text as the one string.
    bool ReportString(uint16_t type, uint32_t eventId, const wchar_t* text, const void* userSid);
    void Close();

private:
    void DeregisterHeld();

    kx::platform::IEventLog& eventLog_;
    kx::platform::EventSourceHandle source_ = nullptr;
    std::mutex lock_;
    std::wstring serverName_;
    std::wstring sourceName_;
};
