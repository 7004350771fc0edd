#include "platform/EventLog.h"

#include <dirent.h>

#include <memory>
#include <mutex>
#include <set>

#include "BaseClasses/EventLogRecord.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "platform/posix/EventLogFile.h"

namespace kx::platform {
namespace {

// A source that no log claims writes to the Application log, as on Windows.
constexpr const wchar_t* kSourceLog = L"Application";
constexpr const wchar_t* kLogFolder = L"EventLogs";
constexpr const wchar_t* kLogExtension = L".evt";

bool Fail(uint32_t code) {
    SetLastErrorCode(code);
    return false;
}

void* FailHandle(uint32_t code) {
    SetLastErrorCode(code);
    return nullptr;
}

bool IsLocalServer(const wchar_t* server) {
    if (!server || !*server) return true;
    std::wstring_view name(server);
    if (name.starts_with(L"\\\\")) name.remove_prefix(2);
    return EqualsNoCase(name, GetLocalComputerName());
}

bool IsValidLogName(const std::wstring& name) {
    return !name.empty() && name.size() <= 255 && name != L"." && name != L".." &&
           name.find_first_of(L"/\\") == std::wstring::npos &&
           name.find(L'\0') == std::wstring::npos;
}

// Log names do not depend on case, as on Windows: an existing file whose
// name differs only in case is the log's file.
std::wstring FindLogFileName(const std::wstring& folder, const std::wstring& logName) {
    std::wstring wanted = logName + kLogExtension;
    if (DIR* dir = opendir(WideToUtf8(folder).c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::wstring name = Utf8ToWide(entry->d_name);
            if (EqualsNoCase(name, wanted)) {
                wanted = name;
                break;
            }
        }
        closedir(dir);
    }
    return wanted;
}

std::string LogPath(const std::wstring& logName) {
    return WideToUtf8(GetEventLogFilePath(logName));
}

uint32_t NowSeconds() {
    return static_cast<uint32_t>(SystemTimeToUnixMilliseconds(GetSystemTimeUtc()) / 1000);
}

// The length of a binary SID from its sub-authority count; 0 when it is not
// a SID (revision 1, at most 15 sub-authorities).
std::size_t SidLength(const void* sid) {
    const auto* bytes = static_cast<const uint8_t*>(sid);
    if (bytes[0] != 1 || bytes[1] > 15) return 0;
    return 8 + 4 * std::size_t{bytes[1]};
}

struct LogHandle {
    std::mutex mutex;
    std::unique_ptr<CEventLogFile> file;  // none: the log had no file when opened
    bool positioned = false;              // a read has set the next record
    uint32_t nextNumber = 0;
    uint64_t nextOffset = 0;
};

struct SourceHandle {
    std::wstring sourceName;
    std::wstring logName;
};

constexpr uint32_t kRecordHeadBytes = 12;  // length, signature, record number

// Reads whole records into the buffer from the record at offset; the
// number of bytes they take goes to *used, the size of the first record
// when it does not fit to *firstLength.
bool FillForwards(CEventLogFile& file, const EvtHeader& header, uint64_t offset, uint32_t number,
                  uint8_t* buffer, uint32_t size, uint32_t* used, uint32_t* records,
                  uint32_t* firstLength) {
    *used = 0;
    *records = 0;
    if (!file.CheckRecordAt(header, offset, number, firstLength)) return false;
    const auto got = static_cast<uint32_t>(std::min<uint64_t>(size, header.endOffset - offset));
    if (got < *firstLength) return true;
    if (!file.ReadBytes(offset, buffer, got)) return false;
    // A record's length, signature and number are checked only where all
    // three are in the buffer; one cut off earlier is the next read's first.
    while (*used + kRecordHeadBytes <= got) {
        const uint8_t* record = buffer + *used;
        const uint32_t length = eventlog::ReadUInt32LE(record);
        const bool sound = length >= eventlog::kSmallestRecordSize && length % 4 == 0 &&
                           offset + *used + length <= header.endOffset &&
                           eventlog::ReadUInt32LE(record + 4) == eventlog::kRecordSignature &&
                           eventlog::ReadUInt32LE(record + 8) == number;
        if (!sound) return Fail(kErrorEventLogFileCorrupt);
        if (*used + length > got) break;
        if (eventlog::ReadUInt32LE(record + length - 4) != length)
            return Fail(kErrorEventLogFileCorrupt);
        *used += length;
        ++*records;
        ++number;
    }
    return true;
}

class CLinuxEventLog : public IEventLog {
public:
    EventLogHandle Open(const wchar_t* server, const wchar_t* logName) override;
    bool Close(EventLogHandle log) override;
    bool GetOldestRecord(EventLogHandle log, uint32_t* oldest) override;
    bool GetNumberOfRecords(EventLogHandle log, uint32_t* count) override;
    bool Read(EventLogHandle log, uint32_t flags, uint32_t recordOffset, void* buffer,
              uint32_t bufferSize, uint32_t* bytesRead, uint32_t* bytesNeeded) override;
    bool Clear(EventLogHandle log) override;
    EventSourceHandle RegisterSource(const wchar_t* server, const wchar_t* sourceName) override;
    bool DeregisterSource(EventSourceHandle source) override;
    bool Report(EventSourceHandle source, uint16_t type, uint16_t category, uint32_t eventId,
                const void* userSid, uint16_t stringCount, const wchar_t* const* strings,
                uint32_t dataSize, const void* data) override;

private:
    LogHandle* FindLog(EventLogHandle log);
    SourceHandle* FindSource(EventSourceHandle source);
    // Runs an operation with the log's header under the file's read lock; an
    // empty log (no file) has the header of an empty log.
    template <typename Operation>
    bool WithHeader(LogHandle& handle, Operation operation);
    bool ReadLocked(LogHandle& handle, const EvtHeader& header, uint32_t flags,
                    uint32_t recordOffset, uint8_t* buffer, uint32_t bufferSize,
                    uint32_t* bytesRead, uint32_t* bytesNeeded);

    std::mutex mutex_;
    std::set<void*> logs_;  // live handles: a stale or foreign handle fails with 6
    std::set<void*> sources_;
};

LogHandle* CLinuxEventLog::FindLog(EventLogHandle log) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (logs_.count(log) == 0) return nullptr;
    return static_cast<LogHandle*>(log);
}

SourceHandle* CLinuxEventLog::FindSource(EventSourceHandle source) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sources_.count(source) == 0) return nullptr;
    return static_cast<SourceHandle*>(source);
}

EventLogHandle CLinuxEventLog::Open(const wchar_t* server, const wchar_t* logName) {
    if (!IsLocalServer(server)) return FailHandle(kErrorBadNetPath);
    if (!logName || !IsValidLogName(logName)) return FailHandle(kErrorInvalidParameter);
    auto handle = std::make_unique<LogHandle>();
    auto file = std::make_unique<CEventLogFile>(LogPath(logName));
    if (file->OpenForReading()) {
        handle->file = std::move(file);
    } else if (GetLastErrorCode() != 2) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    logs_.insert(handle.get());
    return handle.release();
}

bool CLinuxEventLog::Close(EventLogHandle log) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (logs_.erase(log) == 0) return Fail(kErrorInvalidHandle);
    }
    delete static_cast<LogHandle*>(log);
    return true;
}

template <typename Operation>
bool CLinuxEventLog::WithHeader(LogHandle& handle, Operation operation) {
    std::lock_guard<std::mutex> lock(handle.mutex);
    if (!handle.file) return operation(EvtHeader{});
    if (!handle.file->LockForReading()) return false;
    EvtHeader header;
    bool ok = handle.file->ReadHeader(&header) && operation(header);
    uint32_t error = GetLastErrorCode();
    handle.file->Unlock();
    SetLastErrorCode(error);
    return ok;
}

bool CLinuxEventLog::GetOldestRecord(EventLogHandle log, uint32_t* oldest) {
    LogHandle* handle = FindLog(log);
    if (!handle) return Fail(kErrorInvalidHandle);
    if (!oldest) return Fail(kErrorInvalidParameter);
    return WithHeader(*handle, [&](const EvtHeader& header) {
        *oldest = header.oldestRecordNumber;
        return true;
    });
}

bool CLinuxEventLog::GetNumberOfRecords(EventLogHandle log, uint32_t* count) {
    LogHandle* handle = FindLog(log);
    if (!handle) return Fail(kErrorInvalidHandle);
    if (!count) return Fail(kErrorInvalidParameter);
    return WithHeader(*handle, [&](const EvtHeader& header) {
        *count = header.Count();
        return true;
    });
}

bool CLinuxEventLog::ReadLocked(LogHandle& handle, const EvtHeader& header, uint32_t flags,
                                uint32_t recordOffset, uint8_t* buffer, uint32_t bufferSize,
                                uint32_t* bytesRead, uint32_t* bytesNeeded) {
    uint32_t number = handle.nextNumber;
    uint64_t offset = handle.nextOffset;
    if (flags & kEventLogSeekRead) {
        number = recordOffset;
        if (!handle.file) return Fail(kErrorInvalidParameter);
        if (!handle.file->FindRecordOffset(header, number, &offset)) return false;
    } else if (!handle.positioned) {
        number = header.oldestRecordNumber;
        offset = header.startOffset;
    }
    if (header.Count() == 0 || number >= header.currentRecordNumber || !handle.file)
        return Fail(kErrorHandleEof);
    uint32_t used = 0;
    uint32_t records = 0;
    uint32_t firstLength = 0;
    if (!FillForwards(*handle.file, header, offset, number, buffer, bufferSize, &used, &records,
                      &firstLength))
        return false;
    if (records == 0) {
        *bytesNeeded = firstLength;
        return Fail(kErrorInsufficientBuffer);
    }
    *bytesRead = used;
    handle.positioned = true;
    handle.nextNumber = number + records;
    handle.nextOffset = offset + used;
    return true;
}

bool CLinuxEventLog::Read(EventLogHandle log, uint32_t flags, uint32_t recordOffset, void* buffer,
                          uint32_t bufferSize, uint32_t* bytesRead, uint32_t* bytesNeeded) {
    LogHandle* handle = FindLog(log);
    if (!handle) return Fail(kErrorInvalidHandle);
    const uint32_t how = flags & (kEventLogSequentialRead | kEventLogSeekRead);
    const uint32_t direction = flags & (kEventLogForwardsRead | kEventLogBackwardsRead);
    if (how == 0 || how == (kEventLogSequentialRead | kEventLogSeekRead) || direction == 0 ||
        direction == (kEventLogForwardsRead | kEventLogBackwardsRead) || !bytesRead ||
        !bytesNeeded || bufferSize > kMaximumEventLogReadSize || (!buffer && bufferSize > 0))
        return Fail(kErrorInvalidParameter);
    // The stand-in reads forwards only; nothing in the agent reads backwards.
    if (direction == kEventLogBackwardsRead) return Fail(kErrorNotSupported);
    *bytesRead = 0;
    *bytesNeeded = 0;
    return WithHeader(*handle, [&](const EvtHeader& header) {
        return ReadLocked(*handle, header, flags, recordOffset, static_cast<uint8_t*>(buffer),
                          bufferSize, bytesRead, bytesNeeded);
    });
}

bool CLinuxEventLog::Clear(EventLogHandle log) {
    LogHandle* handle = FindLog(log);
    if (!handle) return Fail(kErrorInvalidHandle);
    std::lock_guard<std::mutex> lock(handle->mutex);
    if (!handle->file) return true;  // no file: nothing to clear
    return CEventLogFile::Rewrite(handle->file->Path(), 0, true);
}

EventSourceHandle CLinuxEventLog::RegisterSource(const wchar_t* server, const wchar_t* sourceName) {
    if (!IsLocalServer(server)) return FailHandle(kErrorBadNetPath);
    if (!sourceName || !*sourceName) return FailHandle(kErrorInvalidParameter);
    auto* source = new SourceHandle{sourceName, kSourceLog};
    std::lock_guard<std::mutex> lock(mutex_);
    sources_.insert(source);
    return source;
}

bool CLinuxEventLog::DeregisterSource(EventSourceHandle source) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sources_.erase(source) == 0) return Fail(kErrorInvalidHandle);
    }
    delete static_cast<SourceHandle*>(source);
    return true;
}

bool CLinuxEventLog::Report(EventSourceHandle source, uint16_t type, uint16_t category,
                            uint32_t eventId, const void* userSid, uint16_t stringCount,
                            const wchar_t* const* strings, uint32_t dataSize, const void* data) {
    SourceHandle* handle = FindSource(source);
    if (!handle) return Fail(kErrorInvalidHandle);
    if ((stringCount > 0 && !strings) || (dataSize > 0 && !data))
        return Fail(kErrorInvalidParameter);
    EventLogRecordFields fields;
    fields.timeGenerated = fields.timeWritten = NowSeconds();
    fields.eventId = eventId;
    fields.eventType = type;
    fields.eventCategory = category;
    fields.sourceName = handle->sourceName;
    fields.computerName = GetLocalComputerName();
    if (userSid) {
        std::size_t length = SidLength(userSid);
        if (length == 0) return Fail(1337);  // ERROR_INVALID_SID
        const auto* bytes = static_cast<const uint8_t*>(userSid);
        fields.userSid.assign(bytes, bytes + length);
    }
    for (uint16_t i = 0; i < stringCount; ++i)
        fields.strings.emplace_back(strings[i] ? strings[i] : L"");
    if (dataSize > 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        fields.data.assign(bytes, bytes + dataSize);
    }
    std::vector<uint8_t> record = BuildEventLogRecord(fields);
    if (record.size() > kMaximumEventLogReadSize) return Fail(kErrorInvalidParameter);
    return AppendEventLogRecords(handle->logName, {record}, nullptr);
}

}  // namespace

IEventLog& GetEventLog() {
    static auto* eventLog = new CLinuxEventLog();  // handles may outlive static destruction
    return *eventLog;
}

std::wstring GetEventLogFilePath(const std::wstring& logName) {
    std::wstring folder = GetMachineRoot() + L"/" + kLogFolder;
    return folder + L"/" + FindLogFileName(folder, logName);
}

bool AppendEventLogRecords(const std::wstring& logName,
                           const std::vector<std::vector<uint8_t>>& records,
                           uint32_t* firstNumber) {
    if (!IsValidLogName(logName)) return Fail(kErrorInvalidParameter);
    return CEventLogFile::Append(LogPath(logName), records, firstNumber);
}

bool TrimEventLog(const std::wstring& logName, uint32_t keepCount) {
    if (!IsValidLogName(logName)) return Fail(kErrorInvalidParameter);
    return CEventLogFile::Rewrite(LogPath(logName), keepCount, false);
}

}  // namespace kx::platform
