#include "platform/EventLog.h"

#include <windows.h>

#include "platform/Process.h"

namespace kx::platform {
namespace {

// Every call is the platform's own; failures keep GetLastError's code.
class CWindowsEventLog : public IEventLog {
public:
    EventLogHandle Open(const wchar_t* server, const wchar_t* logName) override {
        return ::OpenEventLogW(EmptyAsNull(server), logName);
    }
    bool Close(EventLogHandle log) override { return ::CloseEventLog(log) != FALSE; }
    bool GetOldestRecord(EventLogHandle log, uint32_t* oldest) override {
        DWORD value = 0;
        if (!::GetOldestEventLogRecord(log, &value)) return false;
        *oldest = value;
        return true;
    }
    bool GetNumberOfRecords(EventLogHandle log, uint32_t* count) override {
        DWORD value = 0;
        if (!::GetNumberOfEventLogRecords(log, &value)) return false;
        *count = value;
        return true;
    }
    bool Read(EventLogHandle log, uint32_t flags, uint32_t recordOffset, void* buffer,
              uint32_t bufferSize, uint32_t* bytesRead, uint32_t* bytesNeeded) override {
        DWORD read = 0;
        DWORD needed = 0;
        BOOL ok = ::ReadEventLogW(log, flags, recordOffset, buffer, bufferSize, &read, &needed);
        *bytesRead = read;
        *bytesNeeded = needed;
        return ok != FALSE;
    }
    bool Clear(EventLogHandle log) override { return ::ClearEventLogW(log, nullptr) != FALSE; }

    EventSourceHandle RegisterSource(const wchar_t* server, const wchar_t* sourceName) override {
        return ::RegisterEventSourceW(EmptyAsNull(server), sourceName);
    }
    bool DeregisterSource(EventSourceHandle source) override {
        return ::DeregisterEventSource(source) != FALSE;
    }
    bool Report(EventSourceHandle source, uint16_t type, uint16_t category, uint32_t eventId,
                const void* userSid, uint16_t stringCount, const wchar_t* const* strings,
                uint32_t dataSize, const void* data) override {
        return ::ReportEventW(source, type, category, eventId, const_cast<void*>(userSid),
                              stringCount, dataSize, const_cast<LPCWSTR*>(strings),
                              const_cast<void*>(data)) != FALSE;
    }

private:
    static const wchar_t* EmptyAsNull(const wchar_t* server) {
        return server && *server ? server : nullptr;
    }
};

}  // namespace

IEventLog& GetEventLog() {
    static auto* eventLog = new CWindowsEventLog();
    return *eventLog;
}

std::wstring GetEventLogFilePath(const std::wstring&) {
    return std::wstring();
}

bool AppendEventLogRecords(const std::wstring&, const std::vector<std::vector<uint8_t>>&,
                           uint32_t*) {
    SetLastErrorCode(kErrorNotSupported);
    return false;
}

bool TrimEventLog(const std::wstring&, uint32_t) {
    SetLastErrorCode(kErrorNotSupported);
    return false;
}

}  // namespace kx::platform
