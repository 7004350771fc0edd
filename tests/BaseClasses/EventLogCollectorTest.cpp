#include "BaseClasses/EventLogCollector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LogData.h"
#include "FakeEventLog.h"
#include "TempDirectory.h"
#include "common/ManualClock.h"
#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kNow = 1700000000;  // the manual clock's UTC seconds
constexpr uint32_t kDay = 86400;

// Runs a collector over a fake log on a manual clock. The worker's sleeps
// go through a hook that can stop the run at a chosen moment: when the
// condition holds at one of them, the worker waits there until the test's
// StopCollecting has cleared the running flag (its first 100 ms sleep
// releases it), so every run ends at a known point.
class EventLogCollectorTest : public ::testing::Test {
protected:
    struct Sleep {
        uint32_t milliseconds;
        std::size_t deliveredBefore;
    };

    void SetUp() override {
        kx::platform::SetExecutablePathForTesting(dir_.Join(L"KXWkstnSvc.exe"));
        InitDiagnosticLog(kLogInformation);
        testThread_ = kx::platform::GetCurrentThreadIdentifier();
        clock_.SetSleepHook([this](uint32_t milliseconds) { OnSleep(milliseconds); });
    }
    void TearDown() override {
        clock_.SetSleepHook(nullptr);
        CloseDiagnosticLog();
        kx::platform::SetExecutablePathForTesting(L"");
    }

    void Configure(CEventLogCollector& collector, uint32_t startingRecord, int32_t limit) {
        collector.SetCollectionParameters(L"WS01", L"Security", startingRecord, limit,
                                          &EventLogCollectorTest::OnRecord,
                                          &EventLogCollectorTest::OnOpened, this);
    }

    void RunUntil(CEventLogCollector& collector, std::function<bool()> condition) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            until_ = std::move(condition);
            blocked_ = released_ = false;
        }
        collector.BeginCollecting();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Only a guard against a hang: the worker runs on the manual clock.
            ASSERT_TRUE(changed_.wait_for(lock, 60s, [&] { return blocked_; }))
                << "the collector never reached the wanted state";
        }
        collector.StopCollecting();
    }

    // Condition helpers; they run under mutex_. Opens count the polls and
    // the search for a starting record, which opens the log too.
    std::function<bool()> AfterOpens(int opens) {
        return [this, opens] { return log_.OpenCount() >= opens; };
    }
    std::function<bool()> AfterDelivering(std::size_t count) {
        return [this, count] { return delivered_.size() >= count; };
    }

    std::vector<uint32_t> Delivered() {
        std::lock_guard<std::mutex> lock(mutex_);
        return delivered_;
    }
    std::vector<uint32_t> DeliveredIds() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveredIds_;
    }
    std::vector<Sleep> WorkerSleeps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return workerSleeps_;
    }
    std::string LogText() {
        CloseDiagnosticLog();
        return ReadFileBytes(dir_.Path() / "BWAgentSvc.log");
    }
    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1))
            ++count;
        return count;
    }
    std::vector<uint32_t> SeekOffsets() {
        std::vector<uint32_t> offsets;
        for (const auto& read : log_.Reads()) {
            if (read.flags == 6 && read.bufferSize == 0) offsets.push_back(read.recordOffset);
        }
        return offsets;
    }

    static int OnRecord(const void* record, void* self) {
        auto* test = static_cast<EventLogCollectorTest*>(self);
        CEventLogRecord view = CEventLogRecord::FromDeliveredRecord(record);
        uint32_t number = view.RecordNumber();
        std::function<int(uint32_t)> decide;
        {
            std::lock_guard<std::mutex> lock(test->mutex_);
            test->delivered_.push_back(number);
            test->deliveredIds_.push_back(view.EventId());
            decide = test->decide_;
        }
        return decide ? decide(number) : 1;
    }
    static void OnOpened(void* self) {
        std::lock_guard<std::mutex> lock(static_cast<EventLogCollectorTest*>(self)->mutex_);
        ++static_cast<EventLogCollectorTest*>(self)->opened_;
    }

    void OnSleep(uint32_t milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (kx::platform::GetCurrentThreadIdentifier() == testThread_) {
            released_ = true;
            changed_.notify_all();
            return;
        }
        workerSleeps_.push_back(Sleep{milliseconds, delivered_.size()});
        if (!blocked_ && until_ && until_()) {
            blocked_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        }
    }

    CTempDirectory dir_;
    CManualClock clock_;
    CScopedClock installed_{clock_};
    CFakeEventLog log_;
    uint32_t testThread_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<bool()> until_;
    bool blocked_ = false;
    bool released_ = false;
    std::vector<uint32_t> delivered_;
    std::vector<uint32_t> deliveredIds_;
    std::vector<Sleep> workerSleeps_;
    std::function<int(uint32_t)> decide_;
    int opened_ = 0;
};

using Numbers = std::vector<uint32_t>;

TEST_F(EventLogCollectorTest, FourteenDayStartFindsTheLastRecordBeforeTheLimit) {
    const uint32_t limit = kNow - 14 * kDay;
    for (uint32_t time : {kNow - 20 * kDay, kNow - 16 * kDay, kNow - 15 * kDay, limit - 1,
                          kNow - 13 * kDay, kNow - kDay})
        log_.AddRecord(time);
    CEventLogCollector collector(log_);
    Configure(collector, 0, 14);
    RunUntil(collector, AfterDelivering(3));
    EXPECT_EQ(Delivered(), (Numbers{4, 5, 6}));
}

TEST_F(EventLogCollectorTest, FourteenDayStartTakesARecordAtExactlyTheLimit) {
    const uint32_t limit = kNow - 14 * kDay;
    for (uint32_t time :
         {limit - 30, limit - 20, limit - 10, limit, limit + 10, limit + 20, limit + 30})
        log_.AddRecord(time);
    CEventLogCollector collector(log_);
    Configure(collector, 0, 14);
    RunUntil(collector, AfterDelivering(4));
    EXPECT_EQ(Delivered(), (Numbers{4, 5, 6, 7}));
}

TEST_F(EventLogCollectorTest, FourteenDayStartOnALogOlderOrNewerThanTheLimit) {
    {
        for (int i = 0; i < 3; ++i) log_.AddRecord(kNow - 30 * kDay + i);
        CEventLogCollector collector(log_);
        Configure(collector, 0, 14);
        RunUntil(collector, AfterDelivering(1));
        EXPECT_EQ(Delivered(), (Numbers{3})) << "every record is older: the newest";
    }
    log_.ClearRecords();
    delivered_.clear();
    for (int i = 0; i < 3; ++i) log_.AddRecord(kNow - kDay + i);
    CEventLogCollector collector(log_);
    Configure(collector, 0, 14);
    RunUntil(collector, AfterDelivering(3));
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3})) << "every record is newer: the oldest";
}

TEST_F(EventLogCollectorTest, LimitZeroStartsAtTheNewestRecord) {
    for (int i = 0; i < 5; ++i) log_.AddRecord(kNow - 40 * kDay);
    CEventLogCollector collector(log_);
    Configure(collector, 0, 0);
    RunUntil(collector, AfterOpens(3));  // the search and two polls
    EXPECT_EQ(Delivered(), (Numbers{5}));
}

TEST_F(EventLogCollectorTest, NegativeLimitStartsAtTheOldestRecord) {
    for (int i = 0; i < 8; ++i) log_.AddRecord(kNow);
    log_.TrimRecords(4);  // records 5 to 8 remain
    CEventLogCollector collector(log_);
    Configure(collector, 0, -1);
    RunUntil(collector, AfterDelivering(4));
    EXPECT_EQ(Delivered(), (Numbers{5, 6, 7, 8}));
    EXPECT_NE(LogText().find("Restarting at the newest record (8) because the starting record (5) "
                             "is less than the oldest record (5)."),
              std::string::npos);
}

// The log was cleared while the agent was stopped: everything it holds was
// written after the clear.
TEST_F(EventLogCollectorTest, AStartingRecordBeyondTheNewestRestartsAtTheOldestRecord) {
    for (int i = 0; i < 10; ++i) log_.AddRecord(kNow);
    CEventLogCollector collector(log_);
    Configure(collector, 1000, 14);
    bool added = false;
    RunUntil(collector, [&] {
        if (!added && delivered_.size() == 10) {
            added = true;
            log_.AddRecord(kNow, L"eleven");
            log_.AddRecord(kNow, L"twelve");
        }
        return delivered_.size() >= 12;
    });
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_NE(LogText().find("Restarting at the newest record (10) because the starting record "
                             "(1) is greater than the newest record."),
              std::string::npos);
}

// When the Security log is cleared, its first record is the clear's own audit
// event.
constexpr uint32_t kLogClearedEventId = 1102;

EventLogRecordFields LogClearedRecord() {
    EventLogRecordFields fields;
    fields.timeGenerated = fields.timeWritten = kNow + 60;
    fields.eventId = kLogClearedEventId;
    fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
    fields.sourceName = L"Microsoft-Windows-Eventlog";
    fields.computerName = L"WS01";
    return fields;
}

// Cleared while the collector runs: the clear's record and every later one
// are delivered, and collection goes on in the new numbering.
TEST_F(EventLogCollectorTest, ALogClearedWhileCollectingIsReadAgainFromItsOldestRecord) {
    for (int i = 0; i < 5; ++i) log_.AddRecord(kNow, L"before");
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    int stage = 0;
    RunUntil(collector, [&] {
        if (stage == 0 && delivered_.size() == 5) {
            stage = 1;
            log_.ClearRecords();
            log_.AddRecord(LogClearedRecord());
            log_.AddRecord(kNow + 61, L"after one");
        } else if (stage == 1 && delivered_.size() == 7) {
            stage = 2;
            log_.AddRecord(kNow + 62, L"after two");
        }
        return delivered_.size() >= 8;
    });
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3, 4, 5, 1, 2, 3}));
    ASSERT_GT(DeliveredIds().size(), 5u);
    EXPECT_EQ(DeliveredIds()[5], kLogClearedEventId);
    EXPECT_NE(LogText().find("Restarting at the newest record (2) because the starting record "
                             "(1) is greater than the newest record."),
              std::string::npos);
}

// Cleared and written past the old numbering before the next poll: the
// numbers alone look as if nothing happened, but the record delivered last
// is no longer the one under its number.
TEST_F(EventLogCollectorTest, ALogClearedAndFilledPastTheOldNumberingIsReadAgain) {
    for (int i = 0; i < 3; ++i) log_.AddRecord(kNow, L"before");
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    bool cleared = false;
    RunUntil(collector, [&] {
        if (!cleared && delivered_.size() == 3) {
            cleared = true;
            log_.ClearRecords();
            log_.AddRecord(LogClearedRecord());
            for (int i = 0; i < 4; ++i) log_.AddRecord(kNow + 61, L"after");
        }
        return delivered_.size() >= 8;
    });
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3, 1, 2, 3, 4, 5}));
    ASSERT_GT(DeliveredIds().size(), 3u);
    EXPECT_EQ(DeliveredIds()[3], kLogClearedEventId);
    EXPECT_NE(LogText().find("Restarting at the oldest record (1) because the record 3 is no "
                             "longer the one read last: the log was cleared."),
              std::string::npos);
}

TEST_F(EventLogCollectorTest, WrappedLogRestartsAtTheOldestRecord) {
    for (int i = 0; i < 9; ++i) log_.AddRecord(kNow);
    log_.TrimRecords(3);  // 7 to 9
    CEventLogCollector collector(log_);
    Configure(collector, 3, 14);
    RunUntil(collector, AfterDelivering(3));
    EXPECT_EQ(Delivered(), (Numbers{7, 8, 9}));
    EXPECT_EQ(SeekOffsets().front(), 7u);
}

TEST_F(EventLogCollectorTest, WithoutNewRecordsEachPollRetriesTheSameRecordEveryFiveSeconds) {
    for (int i = 0; i < 3; ++i) log_.AddRecord(kNow);
    CEventLogCollector collector(log_);
    Configure(collector, 4, 14);
    RunUntil(collector, AfterOpens(4));
    EXPECT_TRUE(Delivered().empty());
    EXPECT_EQ(SeekOffsets(), (Numbers{4, 4, 4, 4}));
    // Three whole pauses of ten half-second steps lie between the four opens.
    std::vector<Sleep> sleeps = WorkerSleeps();
    ASSERT_GE(sleeps.size(), 31u);
    for (std::size_t i = 0; i < 31; ++i) EXPECT_EQ(sleeps[i].milliseconds, 500u);
    std::string text = LogText();
    EXPECT_EQ(Count(text, "Collecting: Starting Record Number: 4 "), 4u);
    EXPECT_EQ(Count(text, "Collecting: Ending Record Number: 0 "), 4u);
    EXPECT_EQ(Count(text, "Successfully opened event log 'Security' on server 'WS01'."), 4u);
}

TEST_F(EventLogCollectorTest, ARecordForWhichTheCallbackReturnsZeroIsNotDeliveredAgain) {
    for (int i = 0; i < 6; ++i) log_.AddRecord(kNow);
    decide_ = [](uint32_t number) { return number == 3 ? 0 : 1; };
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    RunUntil(collector, AfterDelivering(6));
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3, 4, 5, 6}));
    // The second poll reads record 3 again to see that the log still holds it.
    EXPECT_EQ(SeekOffsets(), (Numbers{1, 3, 4}));
    EXPECT_NE(LogText().find("Collecting: Ending Record Number: 3 "), std::string::npos);
}

// A record answered "read again" ends the poll before any later record, and
// the next poll starts with it: nothing is passed over.
TEST_F(EventLogCollectorTest, ARecordToBeReadAgainStartsTheNextPoll) {
    for (int i = 0; i < 5; ++i) log_.AddRecord(kNow);
    std::map<uint32_t, int> refusals = {{1, 3}, {3, 2}};
    decide_ = [&](uint32_t number) {
        if (refusals[number] == 0) return 1;
        --refusals[number];
        return CEventLogCollector::kReadAgain;
    };
    CEventLogCollector collector(log_);
    Configure(collector, 0, 14);
    RunUntil(collector, AfterDelivering(10));
    EXPECT_EQ(Delivered(), (Numbers{1, 1, 1, 1, 2, 3, 3, 3, 4, 5}));
}

TEST_F(EventLogCollectorTest, MessagesOfARun) {
    for (int i = 0; i < 5; ++i) log_.AddRecord(kNow);
    CEventLogCollector collector(log_);
    Configure(collector, 2, 14);
    RunUntil(collector, AfterOpens(2));
    EXPECT_EQ(opened_, 2);
    std::string text = LogText();
    for (const char* line :
         {"*Information:  Setting Collection Parameters: Server: WS01 | EventLog: Security | "
          "Starting At: 2 | CollectionLimit: 14 \r\n",
          "*Information:  Successfully opened event log 'Security' on server 'WS01'. \r\n",
          "*Information:  Collecting: Starting Record Number: 2 \r\n",
          "*Information:  Collecting: Ending Record Number: 5 \r\n",
          "*Information:  Collecting: Starting Record Number: 6 \r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(EventLogCollectorTest, OpenFailureIsReportedAtMostEveryFiveMinutes) {
    log_.SetOpenFails(true);
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    // One failed open every 30 seconds: 25 opens span 12 minutes.
    RunUntil(collector, AfterOpens(25));
    std::vector<CFakeEventLog::ReportCall> reports = log_.Reports();
    ASSERT_EQ(reports.size(), 3u);  // at 0, 5.5 and 11 minutes
    const std::wstring text =
        L"Error opening the 'Security' event log on 'WS01'. Make sure the Korvex Agent service is "
        L"running with sufficient rights to access this event log and restart the service";
    for (const auto& report : reports) {
        EXPECT_EQ(report.server, L"");
        EXPECT_EQ(report.source, L"Korvex Agent");
        EXPECT_EQ(report.type, 1);
        EXPECT_EQ(report.category, 0);
        EXPECT_EQ(report.eventId, 0x40000011u);
        EXPECT_FALSE(report.hasSid);
        EXPECT_EQ(report.strings, std::vector<std::wstring>{text});
    }
    EXPECT_EQ(log_.RegisteredSourceCount(), 0) << "the reporter is released after each report";
    EXPECT_EQ(Count(LogText(),
                    "***Error:  CEventLogCollector::StartCollectionWork - Unable to "
                    "open event log: " +
                        kx::WideToUtf8(text)),
              3u);
}

TEST_F(EventLogCollectorTest, FirstOpenFailureWithinFiveMinutesOfSystemStartIsReportedLater) {
    clock_.SetTick(100000);
    log_.SetOpenFails(true);
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    std::map<int, std::size_t> reportsByOpen;
    RunUntil(collector, [&] {
        reportsByOpen[log_.OpenCount()] = log_.Reports().size();
        return log_.OpenCount() >= 9;
    });
    // The eighth open is the first one more than 300000 ms after tick 0.
    EXPECT_EQ(reportsByOpen[7], 0u);
    EXPECT_EQ(reportsByOpen[8], 1u);
}

TEST_F(EventLogCollectorTest, StopDuringTheWaitAfterAFailedOpenReturnsWithinHalfASecond) {
    log_.SetOpenFails(true);
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    RunUntil(collector, [&] { return workerSleeps_.size() >= 3; });
    std::vector<Sleep> sleeps = WorkerSleeps();
    EXPECT_EQ(sleeps.size(), 3u) << "the wait ends at the next half-second step";
    EXPECT_EQ(log_.OpenCount(), 1);
}

TEST_F(EventLogCollectorTest, BeginningTwiceOnlyWarns) {
    for (int i = 0; i < 3; ++i) log_.AddRecord(kNow);
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        until_ = [&] { return delivered_.size() >= 3; };
    }
    collector.BeginCollecting();
    collector.BeginCollecting();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ASSERT_TRUE(changed_.wait_for(lock, 60s, [&] { return blocked_; }));
    }
    collector.StopCollecting();
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3}));
    std::string text = LogText();
    EXPECT_EQ(Count(text, "**Warning:  Thread is already running. \r\n"), 1u);
    EXPECT_EQ(Count(text, "Setting Collection Parameters"), 1u);
}

TEST_F(EventLogCollectorTest, StopRightAfterBeginWaitsForTheRunAndNothingRunsAfterIt) {
    for (int i = 0; i < 3; ++i) log_.AddRecord(kNow);
    int opensAtStop = 0;
    {
        CEventLogCollector collector(log_);
        Configure(collector, 1, 14);
        collector.BeginCollecting();
        collector.StopCollecting();
        opensAtStop = log_.OpenCount();
        EXPECT_EQ(log_.OpenHandleCount(), 0);
    }
    EXPECT_EQ(log_.OpenCount(), opensAtStop);
    EXPECT_LE(Delivered().size(), 1u);
}

TEST_F(EventLogCollectorTest, RestartAfterStopContinuesAfterTheLastDeliveredRecord) {
    for (int i = 0; i < 4; ++i) log_.AddRecord(kNow);
    decide_ = [this](uint32_t) {
        clock_.Advance(600);  // the throttle pauses before the third record
        return 1;
    };
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    RunUntil(collector, AfterDelivering(2));
    EXPECT_EQ(Delivered(), (Numbers{1, 2}));
    // Stopped during the throttle's pause before the third record: it was
    // not handed over, so the next run starts with it.
    RunUntil(collector, AfterDelivering(4));
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3, 4}));
}

TEST_F(EventLogCollectorTest, ThrottlePausesHalfASecondAfterEverySecondOfDelivery) {
    for (int i = 0; i < 9; ++i) log_.AddRecord(kNow);
    decide_ = [this](uint32_t) {
        clock_.Advance(300);  // each record takes 300 ms
        return 1;
    };
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    RunUntil(collector, AfterDelivering(9));
    std::vector<std::size_t> throttledBefore;
    for (const Sleep& sleep : WorkerSleeps()) {
        if (sleep.deliveredBefore < 9) throttledBefore.push_back(sleep.deliveredBefore);
    }
    // The first record waits; then one pause per more than 1000 ms of work.
    EXPECT_EQ(throttledBefore, (std::vector<std::size_t>{0, 4, 8}));
}

TEST_F(EventLogCollectorTest, ThrottleSwitchedOffNeverPauses) {
    for (int i = 0; i < 9; ++i) log_.AddRecord(kNow);
    decide_ = [this](uint32_t) {
        clock_.Advance(300);
        return 1;
    };
    auto throttledBefore = [this] {
        std::vector<std::size_t> before;
        for (const Sleep& sleep : WorkerSleeps())
            if (sleep.deliveredBefore < 9) before.push_back(sleep.deliveredBefore);
        return before;
    };
    {
        CEventLogCollector collector(log_);
        Configure(collector, 1, 14);
        collector.SetThrottle(0, 1000);
        RunUntil(collector, AfterDelivering(9));
        EXPECT_EQ(Delivered().size(), 9u);
        EXPECT_TRUE(throttledBefore().empty());
    }
}

TEST_F(EventLogCollectorTest, ARecordLargerThanTheBufferGrowsIt) {
    log_.AddRecord(kNow);
    EventLogRecordFields big;
    big.sourceName = L"Big";
    big.data.assign(CEventLogCollector::kReadBufferSize + 1000, 0x5A);
    log_.AddRecord(big);
    log_.AddRecord(kNow);
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    RunUntil(collector, AfterDelivering(3));
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3}));
    std::vector<CFakeEventLog::ReadCall> reads = log_.Reads();
    ASSERT_GE(reads.size(), 5u);
    EXPECT_EQ(reads[2].bufferSize, CEventLogCollector::kReadBufferSize);
    EXPECT_GT(reads[3].bufferSize, CEventLogCollector::kReadBufferSize);
    EXPECT_EQ(reads[4].bufferSize, reads[3].bufferSize) << "the grown size stays";
}

TEST_F(EventLogCollectorTest, ACallbackThatThrowsIsLoggedAndReadingGoesOn) {
    for (int i = 0; i < 3; ++i) log_.AddRecord(kNow);
    decide_ = [](uint32_t number) -> int {
        if (number == 2) throw std::runtime_error("handler failed");
        return 1;
    };
    CEventLogCollector collector(log_);
    Configure(collector, 1, 14);
    RunUntil(collector, AfterDelivering(3));
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3}));
    EXPECT_NE(LogText().find("***Error:  Error occurred in the DoCallback method. "),
              std::string::npos);
}

// The platform's own event log: the Linux log files, or Windows' event log
// (under Wine a stub that opens and reads nothing).
TEST_F(EventLogCollectorTest, CollectsThroughThePlatformEventLog) {
#ifdef _WIN32
    const wchar_t* logName = L"Application";  // readable without administrator rights
    const std::wstring server;                // Wine opens no named server, not even its own
#else
    const std::wstring server = kx::platform::GetLocalComputerName();
    const wchar_t* logName = L"Security";
    kx::platform::SetMachineRootForTesting(dir_.WidePath());
    std::vector<std::vector<uint8_t> > records;
    for (int i = 0; i < 3; ++i) {
        EventLogRecordFields fields;
        fields.sourceName = L"Microsoft-Windows-Security-Auditing";
        records.push_back(BuildEventLogRecord(fields));
    }
    ASSERT_TRUE(kx::platform::AppendEventLogRecords(logName, records, nullptr));
#endif
    {
        CEventLogCollector collector;
        collector.SetCollectionParameters(server.c_str(), logName, 1, 14,
                                          &EventLogCollectorTest::OnRecord,
                                          &EventLogCollectorTest::OnOpened, this);
        RunUntil(collector, [&] { return opened_ >= 2; });
    }
#ifndef _WIN32
    kx::platform::SetMachineRootForTesting(L"");
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3}));
#endif
    EXPECT_NE(LogText().find("Successfully opened event log '" + kx::WideToUtf8(logName) +
                             "' on server '" + kx::WideToUtf8(server) + "'."),
              std::string::npos);
}

#ifndef _WIN32
// The Linux log file cleared through the port while the collector reads it.
TEST_F(EventLogCollectorTest, ALogFileClearedWhileCollectingIsReadAgainFromItsOldestRecord) {
    kx::platform::SetMachineRootForTesting(dir_.WidePath());
    auto append = [](const EventLogRecordFields& fields) {
        return kx::platform::AppendEventLogRecords(L"Security", {BuildEventLogRecord(fields)},
                                                   nullptr);
    };
    EventLogRecordFields before;
    before.eventId = 4624;
    before.sourceName = L"Microsoft-Windows-Security-Auditing";
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(append(before));
    bool cleared = false;
    bool clearedOk = false;
    {
        CEventLogCollector collector;
        collector.SetCollectionParameters(nullptr, L"Security", 1, 14,
                                          &EventLogCollectorTest::OnRecord, nullptr, this);
        RunUntil(collector, [&] {
            if (!cleared && delivered_.size() == 3) {
                cleared = true;
                kx::platform::IEventLog& port = kx::platform::GetEventLog();
                kx::platform::EventLogHandle log = port.Open(nullptr, L"Security");
                clearedOk = log && port.Clear(log);
                if (log) port.Close(log);
                clearedOk = clearedOk && append(LogClearedRecord()) && append(before);
            }
            return delivered_.size() >= 5;
        });
    }
    kx::platform::SetMachineRootForTesting(L"");
    EXPECT_TRUE(clearedOk);
    EXPECT_EQ(Delivered(), (Numbers{1, 2, 3, 1, 2}));
    ASSERT_EQ(DeliveredIds().size(), 5u);
    EXPECT_EQ(DeliveredIds()[3], kLogClearedEventId);
}
#endif

// Buffers whose records lie about their length: the records before the bad
// one are delivered, the rest of the buffer is skipped and logged, and the
// next poll goes on normally.
TEST_F(EventLogCollectorTest, UntrustedRecordLengthsEndTheWalkOfThatBuffer) {
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> spoil;
        const char* reason;
    };
    const Case cases[] = {
        {"zero length", [](std::vector<uint8_t>& b) { kx::eventlog::WriteUInt32LE(&b[0], 0); },
         "its length is 0"},
        {"shorter than the fixed part",
         [](std::vector<uint8_t>& b) { kx::eventlog::WriteUInt32LE(&b[0], 20); },
         "its length is shorter than a record's fixed part"},
        {"past the bytes read",
         [](std::vector<uint8_t>& b) {
             kx::eventlog::WriteUInt32LE(&b[0], static_cast<uint32_t>(b.size()) + 4);
         },
         "its length reaches past the bytes read"},
        {"truncated fixed part", [](std::vector<uint8_t>& b) { b.resize(30); },
         "fewer bytes than a record's fixed part remain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeEventLog fake;
        EventLogRecordFields fields;
        fields.recordNumber = 2;
        fields.sourceName = L"Source";
        const EventLogRecordFields goodFields = fields;
        std::vector<uint8_t> good = BuildEventLogRecord(fields);
        fields.recordNumber = 3;
        std::vector<uint8_t> bad = BuildEventLogRecord(fields);
        c.spoil(bad);
        std::vector<uint8_t> buffer = good;
        buffer.insert(buffer.end(), bad.begin(), bad.end());
        fake.AddRecord(kNow);  // the starting record
        fake.InjectSequentialBytes(buffer);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delivered_.clear();
        }
        CEventLogCollector collector(fake);
        Configure(collector, 1, 14);
        bool added = false;
        RunUntil(collector, [&] {
            if (!added && fake.OpenCount() == 1) {
                added = true;
                // The log's records 2 (the one delivered from the buffer) and 3;
                // the next poll reads 3.
                fake.AddRecord(goodFields);
                fake.AddRecord(kNow);
            }
            return delivered_.size() >= 3;
        });
        EXPECT_EQ(Delivered(), (Numbers{1, 2, 3}));
        std::string text = LogText();
        InitDiagnosticLog(kLogInformation);
        EXPECT_NE(text.find(std::string("***Error:  Skipped the rest of ") +
                            std::to_string(buffer.size()) +
                            " bytes read from the 'Security' event log: the record at byte " +
                            std::to_string(good.size()) + " is unusable (" + c.reason + ")."),
                  std::string::npos)
            << text;
    }
}

}  // namespace
