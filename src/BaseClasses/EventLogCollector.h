#pragma once
// Reads one event log continuously, oldest to newest, from a starting record
// number, and hands every record to its owner's callback. It opens the log
// anew on every poll (about every 5 seconds), so a cleared or wrapped log is
// noticed, and resumes after the last record it delivered. A log cleared
// since the last poll is read again from its oldest record, so that the
// records written after the clear (the clear's own audit record first) are
// delivered: the starting record lies beyond the newest, or the record
// delivered last is no longer the one under its number. The work runs on
// a worker thread at below-normal priority; all waiting goes through the
// clock (GetClock()).

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "BaseClasses/EventRecordIdentity.h"
#include "BaseClasses/WorkerThread.h"
#include "platform/Event.h"
#include "platform/EventLog.h"

class CEventLogCollector {
public:
    // record: one whole record in the platform's EVENTLOGRECORD layout; its
    // Length is at least the fixed part and all its bytes lie in the
    // collector's buffer. Non-zero goes on; zero ends the current poll (the
    // record still counts as read); kReadAgain ends it too, and the next poll
    // starts with this record again.
    using RecordCallback = int (*)(const void* record, void* userData);
    static constexpr int kReadAgain = -1;
    using OpenedCallback = void (*)(void* userData);

    static constexpr uint32_t kReadBufferSize = 0x7FFFF;
    static constexpr uint32_t kPauseStepMilliseconds = 500;
    static constexpr int kPollPauseSteps = 10;         // 5 seconds between polls
    static constexpr int kOpenFailurePauseSteps = 60;  // 30 seconds after a failed open
    static constexpr uint32_t kOpenFailureReportInterval = 300000;  // 5 minutes
    static constexpr uint32_t kStopPollMilliseconds = 100;
    static constexpr uint32_t kOpenFailureEventId = 0x40000011;
    static constexpr const wchar_t* kOpenFailureSource = L"Korvex Agent";

    // Reads through the platform's event log.
    CEventLogCollector();
    // Reads through the given event log (a test double, for instance).
    explicit CEventLogCollector(kx::platform::IEventLog& eventLog);
    virtual ~CEventLogCollector();
    CEventLogCollector(const CEventLogCollector&) = delete;
    CEventLogCollector& operator=(const CEventLogCollector&) = delete;

    // Null names and callbacks leave the stored ones; the user data is
    // always set. Call before BeginCollecting.
    void SetCollectionParameters(const wchar_t* server, const wchar_t* logName,
                                 uint32_t startingRecord, int32_t collectionLimit,
                                 RecordCallback recordCallback, OpenedCallback openedCallback,
                                 void* userData);
    // The record before the starting record as it was when its number was
    // saved: a log that holds another record under that number was cleared
    // and written again while nobody read it, and is read from its oldest
    // record. Call before BeginCollecting.
    void SetResumeIdentity(const CEventRecordIdentity& identity) { resumeAfter_ = identity; }
    void BeginCollecting();
    // For benchmarks that measure the read path alone: after every
    // interval of delivery the worker pauses this long; a pause of 0 turns
    // the throttle off. Call before BeginCollecting.
    void SetThrottle(uint32_t pauseMilliseconds, uint32_t intervalMilliseconds);
    // Returns when collection has come to rest; no callback runs afterwards.
    void StopCollecting();

private:
    static int CollectionProc_ThreadStart(void* collector);
    void StartCollectionWork();
    void CollectOnce(uint32_t* lastFailureReport);
    void HandleOpenFailure(uint32_t* lastFailureReport);
    void ReportOpenFailure();
    bool ApplyRestartRules(kx::platform::EventLogHandle log);
    bool IsLastRecordReplaced(kx::platform::EventLogHandle log, uint32_t oldest, uint32_t newest);
    bool IsResumeRecordReplaced(kx::platform::EventLogHandle log, uint32_t oldest, uint32_t newest);
    void RememberDelivered(const void* record);
    void ForgetLastRecord();
    void Pause(int steps);
    uint32_t ReadStartingEventLogRecord(kx::platform::EventLogHandle log);
    void ReadToTheEndOfTheLog(kx::platform::EventLogHandle log);
    bool ReadNextRecords(kx::platform::EventLogHandle log, std::vector<uint8_t>& buffer,
                         uint32_t* bytesRead);
    bool WalkRecords(const uint8_t* buffer, uint32_t bytesRead);
    int DoCallback(const void* record);
    void Throttle();
    uint32_t GetStartRecordFromLimit();
    uint32_t GetRecordNumberFromTimeGenerated(uint32_t time);
    uint32_t SearchRecordByTime(kx::platform::EventLogHandle log, uint32_t time);
    uint32_t GetRecordTimeGenerated(kx::platform::EventLogHandle log, uint32_t recordNumber);
    // One record by its number (a size query, then an exact read); 0 or the
    // platform's error code.
    uint32_t ReadRecordByNumber(kx::platform::EventLogHandle log, uint32_t recordNumber,
                                std::vector<uint8_t>* record);
    bool GetOldestAndNewest(kx::platform::EventLogHandle log, uint32_t* oldest, uint32_t* newest);

    kx::platform::IEventLog& eventLog_;
    uint32_t startingRecord_ = 0;
    int32_t collectionLimit_ = 0;
    std::wstring serverName_;
    std::wstring logName_;
    RecordCallback recordCallback_ = nullptr;
    OpenedCallback openedCallback_ = nullptr;
    void* userData_ = nullptr;
    CWorkerThread worker_;
    kx::platform::EventHandle startEvent_;
    std::atomic<int32_t> running_{0};
    std::atomic<int32_t> finished_{1};
    uint32_t lastRecord_ = 0;
    bool readAgain_ = false;  // a record of this poll is to be read again
    // A copy of the record delivered last, to tell at the next poll whether
    // the log still holds it under its number.
    struct DeliveredRecord {
        uint32_t number = 0;
        std::vector<uint8_t> bytes;
    };
    DeliveredRecord lastDelivered_;
    // Until the first record is delivered: the one the run resumes after.
    CEventRecordIdentity resumeAfter_;
    uint32_t throttlePause_ = 500;
    uint32_t throttleInterval_ = 1000;
    uint32_t lastThrottleTime_ = 0;
};
