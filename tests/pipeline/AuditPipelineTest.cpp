// The pipeline's rules with the manual clock: where collection starts, the
// enable switch, when the position is kept, the hourly refresh, and that the
// kept position never passes an alert that is not yet on the device. The
// definitions come from the test's reference server (PipelineDefinitions.xml:
// 4720 selected, 4722 a candidate that no definition selects).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "FakeEventLog.h"
#include "RecordingFile.h"
#include "ReferenceServer.h"
#include "RegistrySandbox.h"
#include "TempDirectory.h"
#include "alertlog/XMLAlertLog.h"
#include "common/ManualClock.h"
#include "common/SystemTime.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/Process.h"
#include "service/AuditPipeline.h"

namespace {

constexpr uint32_t kSelected = 4720;
constexpr uint32_t kUnselectedCandidate = 4722;
constexpr uint32_t kOther = 4624;
constexpr uint32_t kNotWritten = 0xFFFFFFFF;

// An alert log whose workers do not run: the test flushes.
class CHeldAlertLog : public CXMLAlertLog {
public:
    CHeldAlertLog() : CXMLAlertLog(Workers::NotStarted) {}
    uint32_t PostAlertDocument(const std::wstring&) override { return 12029; }
};

// The same, writing its cache files through recording doubles.
class CRecordedAlertLog : public CHeldAlertLog {
public:
    explicit CRecordedAlertLog(CRecordingFile::CJournal& journal) : journal_(journal) {}

protected:
    std::unique_ptr<kx::platform::CExclusiveFile> NewFileObject() override {
        return std::make_unique<CRecordingFile>(journal_);
    }

private:
    CRecordingFile::CJournal& journal_;
};

class CTestPipeline : public CAuditPipeline {
public:
    CTestPipeline(kx::platform::IEventLog& log, bool beginCollecting)
        : CAuditPipeline(std::make_unique<CHeldAlertLog>(), log, beginCollecting) {}
    CTestPipeline(kx::platform::IEventLog& log, std::unique_ptr<CXMLAlertLog> alertLog)
        : CAuditPipeline(std::move(alertLog), log, false) {}
    using CAuditPipeline::AlertLog;
    using CAuditPipeline::Definitions;
};

void WriteSetting(const wchar_t* key, const wchar_t* name, uint32_t value) {
    CRegistryKey settings;
    settings.SetRoot(kx::platform::kHkeyLocalMachine);
    ASSERT_TRUE(settings.Open(key, true));
    ASSERT_TRUE(settings.WriteDword(name, value));
}

uint32_t StoredPosition() {
    CRegistryKey settings;
    settings.SetRoot(kx::platform::kHkeyLocalMachine);
    if (!settings.Open(kProductSettingsKey, false)) return kNotWritten;
    return settings.ReadDword(L"WSLastEventLogRecordNumber", kNotWritten);
}

class AuditPipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Available()) << CReferenceServer::kNotAvailable;
        kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
        CRegistryKey policy;
        policy.SetRoot(kx::platform::kHkeyLocalMachine);
        ASSERT_TRUE(policy.Open(kPolicySettingsKey, true));
        policy.WriteString(L"KFSServer", server_.Host());
        policy.WriteString(L"KFSPort", server_.Port());
    }
    void TearDown() override { kx::platform::SetExecutablePathForTesting(L""); }

    void Enable(uint32_t value = 1) {
        WriteSetting(kPolicySettingsKey, L"EnableWorkstationAuditAgent", value);
    }

    std::unique_ptr<CTestPipeline> MakePipeline(bool beginCollecting = false) {
        auto pipeline = std::make_unique<CTestPipeline>(log_, beginCollecting);
        EXPECT_EQ(pipeline->Definitions().IsCandidateEvent(kSelected), 1)
            << "the server's definitions were not loaded";
        return pipeline;
    }

    // A record of the auditing source as the collector hands it over.
    const void* Record(uint32_t number, uint32_t eventId) {
        EventLogRecordFields fields;
        fields.recordNumber = number;
        fields.timeGenerated = fields.timeWritten = 1700000000;
        fields.eventId = eventId;
        fields.eventType = 8;
        fields.sourceName = L"Microsoft-Windows-Security-Auditing";
        fields.computerName = L"WS-0042";
        fields.strings = {L"jane"};
        bytes_ = BuildEventLogRecord(fields);
        return bytes_.data();
    }

    // The definitions queries the server received since the mark.
    int RefreshesSince(int64_t mark) {
        int count = 0;
        for (const auto& row : server_.Requests(mark))
            if (row.at("path").find("EDVersionNumber") != std::string::npos) ++count;
        return count;
    }

    CManualClock clock_{1000000};
    CScopedClock scopedClock_{clock_};
    CReferenceServer server_;
    CTempDirectory folder_;
    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};
    CFakeEventLog log_;
    std::vector<uint8_t> bytes_;
};

void AddRecords(CFakeEventLog& log, int count, uint32_t time, uint32_t eventId) {
    for (int i = 0; i < count; ++i) {
        EventLogRecordFields fields;
        fields.timeGenerated = fields.timeWritten = time;
        fields.eventId = eventId;
        fields.eventType = 8;
        fields.sourceName = L"Microsoft-Windows-Security-Auditing";
        fields.strings = {L"jane"};
        log.AddRecord(fields);
    }
}

// The collector runs on its own thread; the manual clock makes its pauses
// instant, so it gets there at once.
bool WaitForQueuedItems(CXMLAlertLog& log, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (log.QueuedItems() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    return log.QueuedItems() == count;
}

TEST_F(AuditPipelineTest, CollectionStartsAfterTheStoredRecordOrWithTheLastFourteenDays) {
    Enable();
    const auto now =
        static_cast<uint32_t>(kx::SystemTimeToUnixMilliseconds(clock_.GetSystemTime()) / 1000);
    AddRecords(log_, 10, now - 20 * 86400, kSelected);  // older than 14 days
    AddRecords(log_, 40, now - 60, kSelected);
    {
        // Nothing stored: from the last record generated before 14 days ago.
        auto pipeline = MakePipeline(true);
        ASSERT_TRUE(WaitForQueuedItems(pipeline->AlertLog(), 41));
        EXPECT_EQ(StoredPosition(), 9u) << "before the first alert, which is not on the device";
        pipeline->AlertLog().FlushToCache();
        EXPECT_EQ(StoredPosition(), 50u);
    }
    WriteSetting(kProductSettingsKey, L"WSLastEventLogRecordNumber", 41);
    auto pipeline = MakePipeline(true);
    ASSERT_TRUE(WaitForQueuedItems(pipeline->AlertLog(), 9)) << "records 42 to 50";
    pipeline->AlertLog().FlushToCache();
    EXPECT_EQ(StoredPosition(), 50u);
}

TEST_F(AuditPipelineTest, OnlyTheSwitchAtExactlyOneLetsRecordsThrough) {
    clock_.SetTick(10000000);  // well past the first minute and the first hour
    for (std::optional<uint32_t> value :
         {std::optional<uint32_t>(), std::optional<uint32_t>(0), std::optional<uint32_t>(2)}) {
        if (value) Enable(*value);
        auto pipeline = MakePipeline();
        const int64_t mark = server_.LastRequestId();
        EXPECT_EQ(CAuditPipeline::OnEventRecord(Record(7, kSelected), pipeline.get()), 0);
        EXPECT_EQ(CAuditPipeline::OnEventRecord(Record(8, kUnselectedCandidate), pipeline.get()),
                  0);
        EXPECT_EQ(pipeline->AlertLog().QueuedItems(), 0u);
        EXPECT_EQ(StoredPosition(), kNotWritten);
        EXPECT_EQ(RefreshesSince(mark), 0);
    }
    Enable(1);
    auto pipeline = MakePipeline();
    EXPECT_EQ(CAuditPipeline::OnEventRecord(Record(9, kSelected), pipeline.get()), 1);
    EXPECT_EQ(pipeline->AlertLog().QueuedItems(), 1u);
}

// Before its first read the switch is not known, not off: a service started
// at boot takes the shutdown and boot records too.
TEST_F(AuditPipelineTest, TheSwitchIsReadOnTheFirstRecordWhateverTheUptimeThenOncePerMinute) {
    Enable();
    clock_.SetTick(20000);
    auto pipeline = MakePipeline();
    EXPECT_EQ(CAuditPipeline::OnEventRecord(Record(1, kSelected), pipeline.get()), 1);
    Enable(0);  // seen only by the first record more than a minute later
    clock_.Advance(60000);
    EXPECT_EQ(CAuditPipeline::OnEventRecord(Record(2, kSelected), pipeline.get()), 1);
    clock_.Advance(1);
    EXPECT_EQ(CAuditPipeline::OnEventRecord(Record(3, kSelected), pipeline.get()), 0);
    EXPECT_EQ(pipeline->AlertLog().QueuedItems(), 2u);
}

// A fresh install whose first download fails (500 to every request): no
// record is passed, the download is tried every half minute, and once it
// succeeds every record waiting in the log becomes an alert.
TEST_F(AuditPipelineTest, UntilDefinitionsAreFirstHeldRecordsWaitAndTheDownloadIsRetried) {
    Enable();
    clock_.SetTick(20000);
    const auto now =
        static_cast<uint32_t>(kx::SystemTimeToUnixMilliseconds(clock_.GetSystemTime()) / 1000);
    AddRecords(log_, 40, now - 60, kSelected);
    ASSERT_TRUE(server_.SetFault(L"500", 0, 0, L"/"));
    const int64_t mark = server_.LastRequestId();
    // The collector is held at its first pause after five minutes of ticks.
    std::atomic<bool> parked{false};
    std::atomic<bool> released{false};
    clock_.SetSleepHook([&](uint32_t) {
        if (clock_.GetTickCount() < 20000 + 300000) return;
        parked = true;
        while (!released) std::this_thread::yield();
    });
    CTestPipeline pipeline(log_, true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!parked && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    const int tries = RefreshesSince(mark);
    server_.ClearFault();
    clock_.SetSleepHook(nullptr);
    released = true;
    EXPECT_FALSE(pipeline.Definitions().HasHeldASet());
    EXPECT_GE(tries, 1 + 5) << "at start, then at least once a minute for five minutes";
    EXPECT_LE(tries, 1 + 10) << "not more than every half minute";
    EXPECT_EQ(pipeline.AlertLog().QueuedItems(), 0u);
    EXPECT_EQ(StoredPosition(), kNotWritten);
    ASSERT_TRUE(WaitForQueuedItems(pipeline.AlertLog(), 40));
    pipeline.AlertLog().FlushToCache();
    EXPECT_EQ(StoredPosition(), 40u);
}

// The saved position carries what identified its record. A log cleared and
// written again while the agent was stopped holds another record under that
// number: it is read from its oldest record. A position saved without an
// identity (by an agent of before) is gone on from as it always was.
TEST_F(AuditPipelineTest, ALogClearedAndWrittenAgainWhileStoppedIsReadFromItsOldestRecord) {
    Enable();
    const auto now =
        static_cast<uint32_t>(kx::SystemTimeToUnixMilliseconds(clock_.GetSystemTime()) / 1000);
    auto run = [&](std::size_t expected) {
        auto pipeline = MakePipeline(true);
        EXPECT_TRUE(WaitForQueuedItems(pipeline->AlertLog(), expected));
        pipeline->AlertLog().FlushToCache();
    };
    AddRecords(log_, 5, now - 60, kSelected);
    run(5);
    ASSERT_EQ(StoredPosition(), 5u);
    log_.ClearRecords();
    AddRecords(log_, 8, now - 30, kSelected);
    run(8);
    ASSERT_EQ(StoredPosition(), 8u);

    WriteSetting(kProductSettingsKey, L"WSLastEventLogRecordNumber", 7);  // another number's
    log_.ClearRecords();
    AddRecords(log_, 9, now - 20, kSelected);
    run(2);
    SetLastEventLogRecordIdentity(L"");
    log_.ClearRecords();
    AddRecords(log_, 11, now - 10, kSelected);
    run(2);
    EXPECT_EQ(StoredPosition(), 11u);
}

TEST_F(AuditPipelineTest, ACandidateIsKeptOnceItsAlertIsSafeOtherRecordsEveryTenSeconds) {
    auto pipeline = MakePipeline();
    pipeline->ProcessEventRecord(Record(1, kOther));
    EXPECT_EQ(StoredPosition(), 1u) << "the first record after start";
    for (uint32_t number = 2; number <= 101; ++number) {
        clock_.Advance(90);
        pipeline->ProcessEventRecord(Record(number, kOther));
    }
    EXPECT_EQ(StoredPosition(), 1u) << "100 records within 9 seconds";
    clock_.Advance(1001);
    pipeline->ProcessEventRecord(Record(102, kOther));
    EXPECT_EQ(StoredPosition(), 102u);

    // Two candidates within 10 seconds: one that no definition selects is
    // kept at once, one with an alert once the alert is in a cache file.
    pipeline->ProcessEventRecord(Record(103, kUnselectedCandidate));
    EXPECT_EQ(StoredPosition(), 103u);
    clock_.Advance(10);
    pipeline->ProcessEventRecord(Record(104, kSelected));
    EXPECT_EQ(StoredPosition(), 103u);
    pipeline->ProcessEventRecord(Record(105, kOther));
    clock_.Advance(20000);
    pipeline->ProcessEventRecord(Record(106, kOther));
    EXPECT_EQ(StoredPosition(), 103u) << "the ten-second save stays before the alert";
    pipeline->AlertLog().FlushToCache();
    EXPECT_EQ(StoredPosition(), 106u) << "the flush moved it past the alert";
}

// While its cache file is made, written and flushed to the device, the alert
// stays held and the position stays before its record; both move on only
// once the file is on the device.
TEST_F(AuditPipelineTest, ThePositionPassesAnAlertOnlyOnceItsFileIsOnTheDevice) {
    using Operation = CRecordingFile::Operation;
    CRecordingFile::CJournal journal;
    CTestPipeline pipeline(log_, std::make_unique<CRecordedAlertLog>(journal));
    ASSERT_EQ(pipeline.Definitions().IsCandidateEvent(kSelected), 1);
    pipeline.ProcessEventRecord(Record(20, kSelected));
    pipeline.ProcessEventRecord(Record(21, kOther));
    std::vector<uint32_t> positions;
    std::vector<uint64_t> held;
    journal.before = [&](Operation, const std::wstring&) {
        positions.push_back(StoredPosition());
        held.push_back(pipeline.AlertLog().GetHeldItems().oldestHeld);
    };
    pipeline.AlertLog().FlushToCache();
    EXPECT_EQ(journal.operations,
              (std::vector<Operation>{Operation::Open, Operation::Write, Operation::FlushToDevice,
                                      Operation::Close}));
    EXPECT_EQ(positions, std::vector<uint32_t>(4, 19u));
    EXPECT_EQ(held, std::vector<uint64_t>(4, 1u));
    EXPECT_EQ(StoredPosition(), 21u);
    EXPECT_EQ(pipeline.AlertLog().GetHeldItems().oldestHeld, 0u);
}

TEST_F(AuditPipelineTest, AnAlertThatCannotReachTheDiskHoldsThePositionAndADroppedOneForGood) {
    auto pipeline = MakePipeline();
    pipeline->ProcessEventRecord(Record(10, kSelected));
    std::filesystem::remove_all(folder_.Path());  // no cache file can be made
    pipeline->AlertLog().FlushToCache();
    pipeline->ProcessEventRecord(Record(11, kOther));
    clock_.Advance(10001);
    pipeline->ProcessEventRecord(Record(12, kOther));
    EXPECT_EQ(StoredPosition(), 9u);

    // Past the queue's bound the oldest alert is dropped: its record stays
    // unpassed for this run, so the next start reads it again.
    const std::size_t perItem = pipeline->AlertLog().QueuedBytes();
    uint32_t number = 13;
    while (pipeline->AlertLog().GetHeldItems().lowestDropped == 0) {
        pipeline->ProcessEventRecord(Record(number++, kSelected));
        ASSERT_LT(number, 13 + 2 * CXMLAlertLog::kMaxQueuedBytes / perItem);
    }
    pipeline->AlertLog().FlushToCache();  // still failing: more are dropped
    std::filesystem::create_directories(folder_.Path());
    pipeline->AlertLog().FlushToCache();
    pipeline->ProcessEventRecord(Record(number, kOther));
    clock_.Advance(10001);
    pipeline->ProcessEventRecord(Record(number + 1, kOther));
    EXPECT_EQ(StoredPosition(), 9u);
}

TEST_F(AuditPipelineTest, TheDefinitionsAreRefreshedHourlyAndOnlyWhileRecordsArrive) {
    clock_.SetTick(3600000);
    auto pipeline = MakePipeline();
    int64_t mark = server_.LastRequestId();
    pipeline->ProcessEventRecord(Record(1, kOther));
    EXPECT_EQ(RefreshesSince(mark), 0) << "up for an hour exactly: not yet";
    clock_.Advance(1);
    pipeline->ProcessEventRecord(Record(2, kOther));
    EXPECT_EQ(RefreshesSince(mark), 1);
    mark = server_.LastRequestId();
    clock_.Advance(3600000);
    pipeline->ProcessEventRecord(Record(3, kOther));
    EXPECT_EQ(RefreshesSince(mark), 0);
    clock_.Advance(5 * 3600000);  // hours without records: nothing asks
    EXPECT_EQ(RefreshesSince(mark), 0);
    pipeline->ProcessEventRecord(Record(4, kOther));
    EXPECT_EQ(RefreshesSince(mark), 1);
}

// A refresh whose answer is an error page (500) or a proxy's page (200)
// leaves the definitions held: the next matching record is still an alert.
TEST_F(AuditPipelineTest, ARefreshAnsweredWithAPageThatIsNoDocumentKeepsTheDefinitions) {
    clock_.SetTick(3600001);
    auto pipeline = MakePipeline();
    uint32_t number = 1;
    for (const wchar_t* fault : {L"500", L"portal"}) {
        ASSERT_TRUE(server_.SetConfigValue(L"EDVersionNumber", std::to_wstring(8 + number)));
        ASSERT_TRUE(server_.SetFault(fault, 0, 0, L"/EventDefinitions"));
        const int64_t mark = server_.LastRequestId();
        clock_.Advance(CAuditPipeline::kDefinitionsRefreshInterval + 1);
        pipeline->ProcessEventRecord(Record(number++, kOther));
        bool downloaded = false;
        for (const auto& row : server_.Requests(mark))
            downloaded |= row.at("path").rfind("/EventDefinitions/", 0) == 0;
        EXPECT_TRUE(downloaded) << fault;
        const std::size_t before = pipeline->AlertLog().QueuedItems();
        pipeline->ProcessEventRecord(Record(number++, kSelected));
        EXPECT_EQ(pipeline->AlertLog().QueuedItems(), before + 1) << fault;
    }
    server_.ClearFault();
    server_.SetConfigValue(L"EDVersionNumber", L"7");
}

}  // namespace
