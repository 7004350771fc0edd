#pragma once
// The service framework's event-log reporter: every report registers the
// source, writes one entry (category 0, no user SID, no raw data) and
// deregisters again, under a lock, so that the service's thread and its
// control handler may report at the same time.

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/EventLog.h"

class CServiceEventReporter {
public:
    // server empty: the local computer.
    CServiceEventReporter(const std::wstring& server, const std::wstring& source);
    CServiceEventReporter(const std::wstring& server, const std::wstring& source,
                          kx::platform::IEventLog& eventLog);
    ~CServiceEventReporter();
    CServiceEventReporter(const CServiceEventReporter&) = delete;
    CServiceEventReporter& operator=(const CServiceEventReporter&) = delete;

    // Each returns the result of the write.
    bool ReportString(uint16_t type, uint32_t eventId, const std::wstring& text);
    bool ReportStrings(uint16_t type, uint32_t eventId, const std::wstring& first,
                       const std::wstring& second);
    // The number formatted with "%d", or "%x" when hex is set.
    bool ReportNumber(uint16_t type, uint32_t eventId, int32_t number, bool hex = false);
    bool ReportStringAndNumber(uint16_t type, uint32_t eventId, const std::wstring& text,
                               int32_t number, bool hex = false);

    const std::wstring& GetSourceName() const { return sourceName_; }

private:
    bool WriteEntry(uint16_t type, uint32_t eventId, const wchar_t* const* strings, uint16_t count);
    void CloseHeld();

    kx::platform::IEventLog& eventLog_;
    kx::platform::EventSourceHandle source_ = nullptr;
    std::wstring serverName_;
    std::wstring sourceName_;
    std::mutex lock_;
};
