#pragma once
// The event log: reading a log (OpenEventLogW, GetOldestEventLogRecord,
// GetNumberOfEventLogRecords, ReadEventLogW, ClearEventLogW, CloseEventLog)
// and writing entries under an event source (RegisterEventSourceW,
// ReportEventW, DeregisterEventSource).
//
// Windows calls the platform. Linux keeps one classic ".evt" file per log,
// "<machine root>/EventLogs/<log name>.evt" (file header, EVENTLOGRECORDs with
// their "LfLe" signature, end-of-file record), which other ".evt" readers can
// read. Its records are the bytes ReadEventLogW hands out. Records are
// numbered from 1 and appended; clearing starts the numbering again at 1;
// trimming drops the oldest records. Another process may append while a
// handle reads: a lock on the file lets a reader see a record whole or not
// at all. Only the local computer (its name, or none) can be opened;
// another server fails with 53.
//
// Failures leave a Win32 error code in GetLastErrorCode().

#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {

using EventLogHandle = void*;
using EventSourceHandle = void*;

// ReadEventLogW flags.
inline constexpr uint32_t kEventLogSequentialRead = 0x0001;
inline constexpr uint32_t kEventLogSeekRead = 0x0002;
inline constexpr uint32_t kEventLogForwardsRead = 0x0004;
inline constexpr uint32_t kEventLogBackwardsRead = 0x0008;
// The largest buffer a read accepts.
inline constexpr uint32_t kMaximumEventLogReadSize = 0x7FFFF;

inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorBadNetPath = 53;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorEventLogFileCorrupt = 1500;
inline constexpr uint32_t kErrorEventLogFileChanged = 1503;

// The event log as the core uses it. GetEventLog() is the platform's; tests
// hand a double of their own to the classes that take one.
class IEventLog {
public:
    virtual ~IEventLog() = default;

    // server null or empty: the local computer. Null when it fails.
    virtual EventLogHandle Open(const wchar_t* server, const wchar_t* logName) = 0;
    virtual bool Close(EventLogHandle log) = 0;
    virtual bool GetOldestRecord(EventLogHandle log, uint32_t* oldest) = 0;
    virtual bool GetNumberOfRecords(EventLogHandle log, uint32_t* count) = 0;
    // Reads whole records into the buffer. A buffer too small for the next
    // record fails with 122 and *bytesNeeded set to its size; the end of the
    // log fails with 38 (Windows) as the platform reports it.
    virtual bool Read(EventLogHandle log, uint32_t flags, uint32_t recordOffset, void* buffer,
                      uint32_t bufferSize, uint32_t* bytesRead, uint32_t* bytesNeeded) = 0;
    virtual bool Clear(EventLogHandle log) = 0;

    virtual EventSourceHandle RegisterSource(const wchar_t* server, const wchar_t* sourceName) = 0;
    virtual bool DeregisterSource(EventSourceHandle source) = 0;
    // userSid: a SID in binary form, or null.
    virtual bool Report(EventSourceHandle source, uint16_t type, uint16_t category,
                        uint32_t eventId, const void* userSid, uint16_t stringCount,
                        const wchar_t* const* strings, uint32_t dataSize, const void* data) = 0;
};

IEventLog& GetEventLog();

// Operations of the Linux log files that Windows does not offer (there they
// fail with 50 or return nothing).

// The file that holds a log.
std::wstring GetEventLogFilePath(const std::wstring& logName);
// Appends whole records (EVENTLOGRECORD bytes) in one step; the log sets
// their record numbers. *firstNumber receives the first one's.
bool AppendEventLogRecords(const std::wstring& logName,
                           const std::vector<std::vector<uint8_t>>& records, uint32_t* firstNumber);
// Keeps the newest keepCount records and drops the older ones.
bool TrimEventLog(const std::wstring& logName, uint32_t keepCount);

}  // namespace kx::platform
