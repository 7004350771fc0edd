#include "BaseClasses/EventLogCollector.h"

#include <algorithm>
#include <new>

#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/EventSourceReporter.h"
#include "BaseClasses/LogData.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "platform/Process.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\BaseClasses\\EventLogCollector.cpp";
constexpr uint32_t kSeekForwards =
    kx::platform::kEventLogSeekRead | kx::platform::kEventLogForwardsRead;
constexpr uint32_t kSequentialForwards =
    kx::platform::kEventLogSequentialRead | kx::platform::kEventLogForwardsRead;
constexpr uint32_t kGeneralFailure = 31;

// Closes a log handle on every way out of a poll, an exception included.
class COpenLog {
public:
    COpenLog(kx::platform::IEventLog& eventLog, kx::platform::EventLogHandle log)
        : eventLog_(eventLog), log_(log) {}
    ~COpenLog() { Close(); }
    COpenLog(const COpenLog&) = delete;
    COpenLog& operator=(const COpenLog&) = delete;
    void Close() {
        if (log_) eventLog_.Close(log_);
        log_ = nullptr;
    }

private:
    kx::platform::IEventLog& eventLog_;
    kx::platform::EventLogHandle log_;
};

void LogException(const wchar_t* method) {
    LogMessage(kSourceFile, __LINE__, kLogError, L"Error occurred in the %s method. %d", method,
               kx::platform::GetLastErrorCode());
}

int64_t NowSecondsSince1970() {
    int64_t milliseconds = kx::SystemTimeToUnixMilliseconds(GetClock().GetSystemTime());
    return kx::FileTimeToUnixSeconds(milliseconds * 10000 + kx::kFileTimeUnixEpoch);
}

}  // namespace

CEventLogCollector::CEventLogCollector() : CEventLogCollector(kx::platform::GetEventLog()) {}

CEventLogCollector::CEventLogCollector(kx::platform::IEventLog& eventLog)
    : eventLog_(eventLog), startEvent_(kx::platform::CreateEventObject(false, false)) {
    worker_.AddWaitHandle(startEvent_, &CEventLogCollector::CollectionProc_ThreadStart, this);
    worker_.Start(kx::platform::kThreadPriorityBelowNormal);
}

CEventLogCollector::~CEventLogCollector() {
    if (running_) StopCollecting();
    // The worker ends before the members it uses go away.
    worker_.Stop();
    kx::platform::CloseEventObject(startEvent_);
}

void CEventLogCollector::SetCollectionParameters(const wchar_t* server, const wchar_t* logName,
                                                 uint32_t startingRecord, int32_t collectionLimit,
                                                 RecordCallback recordCallback,
                                                 OpenedCallback openedCallback, void* userData) {
    LogMessage(kSourceFile, __LINE__, kLogInformation,
               L"Setting Collection Parameters: Server: %s | EventLog: %s | Starting At: %d | "
               L"CollectionLimit: %d",
               server, logName, startingRecord, collectionLimit);
    if (server) serverName_ = server;
    if (logName) logName_ = logName;
    startingRecord_ = startingRecord;
    collectionLimit_ = collectionLimit;
    if (recordCallback) recordCallback_ = recordCallback;
    if (openedCallback) openedCallback_ = openedCallback;
    userData_ = userData;
}

void CEventLogCollector::BeginCollecting() {
    CLogData trace(kSourceFile, __LINE__, L"CEventLogCollector::BeginCollecting");
    if (running_) {
        LogMessage(kSourceFile, __LINE__, kLogWarning, L"Thread is already running.");
        trace.MarkNormalExit(__LINE__);
        return;
    }
    lastRecord_ = 0;
    // Cleared here rather than only when the run begins, so that a stop
    // right after this waits for the run instead of returning before it.
    finished_ = 0;
    running_ = 1;
    kx::platform::SetEventObject(startEvent_);
    trace.MarkNormalExit(__LINE__);
}

void CEventLogCollector::StopCollecting() {
    CLogData trace(kSourceFile, __LINE__, L"CEventLogCollector::StopCollecting");
    running_ = 0;
    while (!finished_) GetClock().Sleep(kStopPollMilliseconds);
    trace.MarkNormalExit(__LINE__);
}

int CEventLogCollector::CollectionProc_ThreadStart(void* collector) {
    auto* self = static_cast<CEventLogCollector*>(collector);
    try {
        self->StartCollectionWork();
    } catch (...) {
        LogException(L"CollectionProc_ThreadStart");
        self->finished_ = 1;  // a stop must not wait for a run that is over
    }
    return 0;
}

void CEventLogCollector::StartCollectionWork() {
    CLogData trace(kSourceFile, __LINE__, L"CEventLogCollector::StartCollectionWork");
    finished_ = 0;
    uint32_t lastFailureReport = 0;
    if (startingRecord_ == 0 && collectionLimit_ >= 0) startingRecord_ = GetStartRecordFromLimit();
    while (running_) {
        try {
            CollectOnce(&lastFailureReport);
        } catch (...) {
            LogException(L"StartCollectionWork");
            // A fault that repeats must not turn the loop into a busy one.
            Pause(kPollPauseSteps);
        }
    }
    trace.MarkNormalExit(__LINE__);
    finished_ = 1;
}

void CEventLogCollector::CollectOnce(uint32_t* lastFailureReport) {
    kx::platform::EventLogHandle handle = eventLog_.Open(serverName_.c_str(), logName_.c_str());
    if (!handle) {
        HandleOpenFailure(lastFailureReport);
        return;
    }
    COpenLog log(eventLog_, handle);
    readAgain_ = false;
    LogMessage(kSourceFile, __LINE__, kLogInformation,
               L"Successfully opened event log '%s' on server '%s'.", logName_, serverName_);
    if (openedCallback_) openedCallback_(userData_);
    if (ApplyRestartRules(handle)) {
        LogMessage(kSourceFile, __LINE__, kLogInformation,
                   L"Collecting: Starting Record Number: %d", startingRecord_);
        if (startingRecord_ == 0) {
            ReadToTheEndOfTheLog(handle);
        } else if (ReadStartingEventLogRecord(handle) == 0) {
            ReadToTheEndOfTheLog(handle);
        }
    }
    log.Close();
    LogMessage(kSourceFile, __LINE__, kLogInformation, L"Collecting: Ending Record Number: %d",
               lastRecord_);
    Pause(kPollPauseSteps);
    if (lastRecord_ != 0) startingRecord_ = lastRecord_ + 1;
}

void CEventLogCollector::HandleOpenFailure(uint32_t* lastFailureReport) {
    uint32_t now = GetClock().GetTickCount();
    if (TicksSince(now, *lastFailureReport) > kOpenFailureReportInterval) {
        *lastFailureReport = now;
        ReportOpenFailure();
    }
    Pause(kOpenFailurePauseSteps);
}

void CEventLogCollector::ReportOpenFailure() {
    std::wstring text = kx::Format(
        L"Error opening the '%s' event log on '%s'. Make sure the Korvex Agent service is running "
        L"with sufficient rights to access this event log and restart the service",
        logName_, serverName_);
    {
        CEventSourceReporter reporter(nullptr, kOpenFailureSource, eventLog_);
        reporter.ReportString(kx::eventlog::kEventTypeError, kOpenFailureEventId, text.c_str(),
                              nullptr);
    }
    LogMessage(kSourceFile, __LINE__, kLogError,
               L"CEventLogCollector::StartCollectionWork - Unable to open event log: %s", text);
}

bool CEventLogCollector::GetOldestAndNewest(kx::platform::EventLogHandle log, uint32_t* oldest,
                                            uint32_t* newest) {
    uint32_t count = 0;
    if (!eventLog_.GetOldestRecord(log, oldest) || !eventLog_.GetNumberOfRecords(log, &count))
        return false;
    *newest = *oldest + count - 1;
    return true;
}

bool CEventLogCollector::ApplyRestartRules(kx::platform::EventLogHandle log) {
    uint32_t oldest = 0;
    uint32_t newest = 0;
    // Without the real bounds the rules would move the start on made-up
    // numbers (and read the log again from its oldest record): skip this poll.
    if (!GetOldestAndNewest(log, &oldest, &newest)) {
        LogMessage(kSourceFile, __LINE__, kLogError,
                   L"Unable to read the record numbers of the '%s' event log. %d", logName_,
                   kx::platform::GetLastErrorCode());
        return false;
    }
    bool restarted = false;
    if (startingRecord_ > newest + 1) {
        // The log was cleared: every record it holds was written since.
        startingRecord_ = oldest;
        restarted = true;
        LogMessage(kSourceFile, __LINE__, kLogInformation,
                   L"Restarting at the newest record (%d) because the starting record (%d) is "
                   L"greater than the newest record.",
                   newest, startingRecord_);
    }
    if (startingRecord_ < oldest) {
        startingRecord_ = oldest;
        restarted = true;
        LogMessage(kSourceFile, __LINE__, kLogInformation,
                   L"Restarting at the newest record (%d) because the starting record (%d) is "
                   L"less than the oldest record (%d).",
                   newest, startingRecord_, oldest);
    }
    if (!restarted && (IsLastRecordReplaced(log, oldest, newest) ||
                       IsResumeRecordReplaced(log, oldest, newest))) {
        // Cleared and written past the old numbering since the last poll.
        const uint32_t replaced = startingRecord_ - 1;
        startingRecord_ = oldest;
        restarted = true;
        LogMessage(kSourceFile, __LINE__, kLogInformation,
                   L"Restarting at the oldest record (%d) because the record %d is no longer the "
                   L"one read last: the log was cleared.",
                   oldest, replaced);
    }
    // A new start: the end of this poll must not lead back into the old
    // numbering.
    if (restarted) ForgetLastRecord();
    return true;
}

bool CEventLogCollector::IsLastRecordReplaced(kx::platform::EventLogHandle log, uint32_t oldest,
                                              uint32_t newest) {
    const uint32_t number = lastDelivered_.number;
    if (lastDelivered_.bytes.empty() || startingRecord_ != number + 1 || number < oldest ||
        number > newest)
        return false;
    std::vector<uint8_t> record;
    if (ReadRecordByNumber(log, number, &record) != 0) return false;
    return record != lastDelivered_.bytes;
}

bool CEventLogCollector::IsResumeRecordReplaced(kx::platform::EventLogHandle log, uint32_t oldest,
                                                uint32_t newest) {
    const uint32_t number = resumeAfter_.RecordNumber();
    if (!resumeAfter_.IsKnown() || startingRecord_ != number + 1 || number < oldest ||
        number > newest)
        return false;
    std::vector<uint8_t> record;
    if (ReadRecordByNumber(log, number, &record) != 0) return false;
    return !CEventRecordIdentity::Of(record.data()).SameRecordAs(resumeAfter_);
}

void CEventLogCollector::RememberDelivered(const void* record) {
    resumeAfter_ = CEventRecordIdentity();
    const auto* bytes = static_cast<const uint8_t*>(record);
    lastDelivered_.number = lastRecord_;
    try {
        lastDelivered_.bytes.assign(bytes, bytes + kx::eventlog::ReadUInt32LE(bytes));
    } catch (const std::bad_alloc&) {
        lastDelivered_.bytes.clear();  // nothing to compare with at the next poll
    }
}

void CEventLogCollector::ForgetLastRecord() {
    lastRecord_ = 0;
    resumeAfter_ = CEventRecordIdentity();
    lastDelivered_ = DeliveredRecord{};
}

void CEventLogCollector::Pause(int steps) {
    for (int i = 0; i < steps && running_; ++i) GetClock().Sleep(kPauseStepMilliseconds);
}

uint32_t CEventLogCollector::ReadRecordByNumber(kx::platform::EventLogHandle log,
                                                uint32_t recordNumber,
                                                std::vector<uint8_t>* record) {
    uint32_t bytesRead = 0;
    uint32_t bytesNeeded = 0;
    if (eventLog_.Read(log, kSeekForwards, recordNumber, nullptr, 0, &bytesRead, &bytesNeeded))
        return kGeneralFailure;
    uint32_t error = kx::platform::GetLastErrorCode();
    if (error != kx::platform::kErrorInsufficientBuffer) return error ? error : kGeneralFailure;
    record->assign(bytesNeeded, 0);
    if (!eventLog_.Read(log, kSeekForwards, recordNumber, record->data(), bytesNeeded, &bytesRead,
                        &bytesNeeded)) {
        error = kx::platform::GetLastErrorCode();
        return error ? error : kGeneralFailure;
    }
    // The platform's answer is input like any other: the record must be whole.
    bytesRead = std::min<uint32_t>(bytesRead, static_cast<uint32_t>(record->size()));
    if (kx::eventlog::CheckRecordBounds(record->data(), bytesRead) !=
        kx::eventlog::RecordBounds::kWhole)
        return kx::platform::kErrorEventLogFileCorrupt;
    return 0;
}

uint32_t CEventLogCollector::ReadStartingEventLogRecord(kx::platform::EventLogHandle log) {
    try {
        if (startingRecord_ == 0) return kx::platform::kErrorInvalidParameter;
        std::vector<uint8_t> record;
        uint32_t error = ReadRecordByNumber(log, startingRecord_, &record);
        if (error != 0) return error;
        DoCallback(record.data());
        // The records after one that is to be read again wait for it.
        return readAgain_ ? kGeneralFailure : 0;
    } catch (...) {
        LogException(L"ReadStartingEventLogRecord");
        // Not 0: reading on sequentially from an unknown position could
        // deliver the log again from its oldest record.
        return kGeneralFailure;
    }
}

bool CEventLogCollector::ReadNextRecords(kx::platform::EventLogHandle log,
                                         std::vector<uint8_t>& buffer, uint32_t* bytesRead) {
    uint32_t bytesNeeded = 0;
    auto size = static_cast<uint32_t>(buffer.size());
    if (eventLog_.Read(log, kSequentialForwards, 0, buffer.data(), size, bytesRead, &bytesNeeded))
        return true;
    if (kx::platform::GetLastErrorCode() != kx::platform::kErrorInsufficientBuffer) return false;
    // The grown buffer is the size of every later read.
    buffer = std::vector<uint8_t>();
    buffer.resize(bytesNeeded);
    size = static_cast<uint32_t>(buffer.size());
    return eventLog_.Read(log, kSequentialForwards, 0, buffer.data(), size, bytesRead,
                          &bytesNeeded);
}

void CEventLogCollector::ReadToTheEndOfTheLog(kx::platform::EventLogHandle log) {
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(kReadBufferSize);
    } catch (const std::bad_alloc&) {
        return;
    }
    while (running_) {
        try {
            uint32_t bytesRead = 0;
            if (!ReadNextRecords(log, buffer, &bytesRead)) break;
            bytesRead = std::min<uint32_t>(bytesRead, static_cast<uint32_t>(buffer.size()));
            if (!WalkRecords(buffer.data(), bytesRead)) break;
        } catch (const std::bad_alloc&) {
            break;
        } catch (...) {
            LogException(L"ReadToTheEndOfTheLog");
        }
    }
}

bool CEventLogCollector::WalkRecords(const uint8_t* buffer, uint32_t bytesRead) {
    uint32_t offset = 0;
    while (offset < bytesRead && running_) {
        kx::eventlog::RecordBounds bounds =
            kx::eventlog::CheckRecordBounds(buffer + offset, bytesRead - offset);
        if (bounds != kx::eventlog::RecordBounds::kWhole) {
            // A length that cannot be trusted gives no way to the next record.
            LogMessage(kSourceFile, __LINE__, kLogError,
                       L"Skipped the rest of %d bytes read from the '%s' event log: the record "
                       L"at byte %d is unusable (%s).",
                       bytesRead, logName_, offset, kx::eventlog::DescribeRecordBounds(bounds));
            return false;
        }
        if (DoCallback(buffer + offset) == 0) return false;
        offset += kx::eventlog::ReadUInt32LE(buffer + offset);
    }
    return true;
}

void CEventLogCollector::SetThrottle(uint32_t pauseMilliseconds, uint32_t intervalMilliseconds) {
    throttlePause_ = pauseMilliseconds;
    throttleInterval_ = intervalMilliseconds;
}

void CEventLogCollector::Throttle() {
    if (throttlePause_ != 0 &&
        TicksSince(GetClock().GetTickCount(), lastThrottleTime_) > throttleInterval_) {
        GetClock().Sleep(throttlePause_);
        lastThrottleTime_ = GetClock().GetTickCount();
    }
}

int CEventLogCollector::DoCallback(const void* record) {
    const uint32_t previous = lastRecord_;
    lastRecord_ = kx::eventlog::ReadUInt32LE(static_cast<const uint8_t*>(record) +
                                             kx::eventlog::kOffsetRecordNumber);
    Throttle();
    if (!running_) {
        // Not handed over: a later run must start with it, not after it.
        lastRecord_ = previous;
        return 0;
    }
    int result = 1;
    try {
        if (recordCallback_) result = recordCallback_(record, userData_);
    } catch (...) {
        LogException(L"DoCallback");
        result = 1;
    }
    if (result == kReadAgain) {
        lastRecord_ = previous;
        readAgain_ = true;
        return 0;
    }
    RememberDelivered(record);
    return result;
}

uint32_t CEventLogCollector::GetStartRecordFromLimit() {
    int64_t time = NowSecondsSince1970() - int64_t{collectionLimit_} * 86400;
    return GetRecordNumberFromTimeGenerated(static_cast<uint32_t>(time));
}

uint32_t CEventLogCollector::GetRecordNumberFromTimeGenerated(uint32_t time) {
    try {
        kx::platform::EventLogHandle handle = eventLog_.Open(serverName_.c_str(), logName_.c_str());
        if (!handle) return 0;
        COpenLog log(eventLog_, handle);
        return SearchRecordByTime(handle, time);
    } catch (...) {
        LogException(L"GetRecordNumberFromTimeGenerated");
        return 0;
    }
}

uint32_t CEventLogCollector::SearchRecordByTime(kx::platform::EventLogHandle log, uint32_t time) {
    uint32_t oldest = 0;
    uint32_t newest = 0;
    if (!GetOldestAndNewest(log, &oldest, &newest)) return 0;
    if (collectionLimit_ == 0 || time > GetRecordTimeGenerated(log, newest)) return newest;
    if (time < GetRecordTimeGenerated(log, oldest)) return oldest;
    uint32_t low = oldest;
    uint32_t high = newest;
    for (;;) {
        uint32_t mid = low + (high - low) / 2;
        if (mid == high || mid == low) return mid;
        uint32_t midTime = GetRecordTimeGenerated(log, mid);
        if (midTime == time) return mid;
        if (time > midTime) {
            low = mid;
        } else {
            high = mid;
        }
    }
}

uint32_t CEventLogCollector::GetRecordTimeGenerated(kx::platform::EventLogHandle log,
                                                    uint32_t recordNumber) {
    try {
        std::vector<uint8_t> record;
        if (ReadRecordByNumber(log, recordNumber, &record) != 0) return 0;
        return kx::eventlog::ReadUInt32LE(record.data() + kx::eventlog::kOffsetTimeGenerated);
    } catch (...) {
        LogException(L"GetRecordTimeGenerated");
        return 0;
    }
}
