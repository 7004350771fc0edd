// The flush: queued items into cache files, and what happens when no file
// can be written. The manual clock drives the once-a-minute error report.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "AlertLogTestSupport.h"
#include "BaseClasses/LogData.h"
#include "TempDirectory.h"
#include "common/ManualClock.h"
#include "common/Text.h"
#include "platform/Process.h"

namespace {

const std::string kCreateError = "Error creating cache file: ";

class AlertLogFlushTest : public ::testing::Test {
protected:
    // The cache folder is the executable's folder when the alert log is made;
    // the diagnostic log goes one level up, so that it stays while the cache
    // folder is taken away.
    void SetUp() override {
        cacheFolder_ = folder_.Path() / "agent";
        std::filesystem::create_directory(cacheFolder_);
        NewAlertLog();
        InitDiagnosticLog(kLogInformation);
    }
    void TearDown() override {
        log_.reset();
        CloseDiagnosticLog();
        kx::platform::SetExecutablePathForTesting(L"");
    }

    void NewAlertLog() {
        log_.reset();
        kx::platform::SetExecutablePathForTesting(
            kx::Utf8ToWide((cacheFolder_ / "KXWkstnSvc.exe").string()));
        log_ = std::make_unique<CTestAlertLog>();
        log_->answer = [](const std::wstring&) { return 0u; };
        kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
    }
    int CreateErrorsLogged() { return CountInDiagnosticLog(folder_.Path(), kCreateError); }

    void AddItems(int count, std::size_t dumpLength = 0, int first = 0) {
        for (int i = first; i < first + count; ++i)
            log_->AddItem(MakeItem(L"alert " + std::to_wstring(i), dumpLength));
    }
    // The action texts of every cache file, in the order the sweep sends them.
    std::vector<std::wstring> SentActionTexts() {
        log_->posted.clear();
        log_->SendCacheFiles();
        std::vector<std::wstring> texts;
        for (const auto& document : log_->posted)
            for (const auto& text : ActionTextsOf(document)) texts.push_back(text);
        return texts;
    }
    static std::vector<std::wstring> Expected(int count, int first = 0) {
        std::vector<std::wstring> texts;
        for (int i = first; i < first + count; ++i) texts.push_back(L"alert " + std::to_wstring(i));
        return texts;
    }
    // The cache folder gone: no file can be created in it.
    void MakeCacheFolderUnwritable() { std::filesystem::remove_all(cacheFolder_); }
    void MakeCacheFolderWritable() { std::filesystem::create_directory(cacheFolder_); }

    CManualClock clock_;
    CScopedClock installed_{clock_};
    CTempDirectory folder_;
    std::filesystem::path cacheFolder_;
    std::unique_ptr<CTestAlertLog> log_;
};

TEST_F(AlertLogFlushTest, NoItemsNoFile) {
    log_->FlushToCache();
    log_->FlushToCache();
    EXPECT_TRUE(CacheFilesIn(cacheFolder_).empty());
}

TEST_F(AlertLogFlushTest, ItemsOfOneFlushShareOneFileInArrivalOrder) {
    AddItems(5);
    log_->FlushToCache();
    const auto files = CacheFilesIn(cacheFolder_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadFileBytes(files[0]).substr(0, 4), std::string("\x05\0\0\0", 4));
    EXPECT_EQ(SentActionTexts(), Expected(5));
    EXPECT_TRUE(CacheFilesIn(cacheFolder_).empty());
}

TEST_F(AlertLogFlushTest, UnwritableFolderKeepsTheItemsUntilItIsWritable) {
    AddItems(3);
    MakeCacheFolderUnwritable();
    log_->FlushToCache();
    log_->FlushToCache();
    EXPECT_EQ(log_->QueuedItems(), 3u);
    AddItems(2, 0, 3);
    MakeCacheFolderWritable();
    log_->FlushToCache();
    EXPECT_EQ(log_->QueuedItems(), 0u);
    EXPECT_EQ(SentActionTexts(), Expected(5));
}

TEST_F(AlertLogFlushTest, CreationErrorIsLoggedAtMostOnceAMinute) {
    AddItems(1);
    MakeCacheFolderUnwritable();
    for (int flush = 0; flush < 12; ++flush) {  // a minute of flushes, one report
        log_->FlushToCache();
        clock_.Advance(CXMLAlertLog::kFlushIntervalMilliseconds);
    }
    log_->FlushToCache();  // a minute on: still the first report's minute
    EXPECT_EQ(CreateErrorsLogged(), 1);
    InitDiagnosticLog(kLogInformation);
    clock_.Advance(1);
    log_->FlushToCache();  // past the minute: the second report
    EXPECT_EQ(CreateErrorsLogged(), 1);
    EXPECT_EQ(log_->QueuedItems(), 1u);
}

TEST_F(AlertLogFlushTest, ErrorIsLoggedAgainWhenANewFailureFollowsASuccess) {
    AddItems(1);
    MakeCacheFolderUnwritable();
    log_->FlushToCache();
    MakeCacheFolderWritable();
    log_->FlushToCache();
    AddItems(1, 0, 1);
    MakeCacheFolderUnwritable();
    log_->FlushToCache();
    EXPECT_EQ(CreateErrorsLogged(), 2);
}

TEST_F(AlertLogFlushTest, QueueOverItsBoundDropsTheOldestAndSaysHowMany) {
    MakeCacheFolderUnwritable();
    log_->FlushToCache();  // nothing queued: not yet known to fail
    const std::size_t itemBytes = MakeItem(L"alert 0", 64 * 1024)->MemoryBytes();
    const int count = static_cast<int>(CXMLAlertLog::kMaxQueuedBytes / itemBytes) + 10;
    AddItems(1, 64 * 1024);
    log_->FlushToCache();  // fails: from now on the queue is bounded
    AddItems(count - 1, 64 * 1024, 1);
    EXPECT_LE(log_->QueuedBytes(), CXMLAlertLog::kMaxQueuedBytes);
    const std::size_t kept = log_->QueuedItems();
    ASSERT_LT(kept, static_cast<std::size_t>(count));
    log_->FlushToCache();
    EXPECT_EQ(CountInDiagnosticLog(
                  folder_.Path(), "dropped the " + std::to_string(count - kept) + " oldest alerts"),
              1);
    // The newest are the ones kept; the final flush writes them.
    MakeCacheFolderWritable();
    NewAlertLog();
    const auto texts = SentActionTexts();
    ASSERT_EQ(texts.size(), kept);
    EXPECT_EQ(texts.front(), L"alert " + std::to_wstring(count - kept));
    EXPECT_EQ(texts.back(), L"alert " + std::to_wstring(count - 1));
}

// What the flush cannot keep goes to the Application log as well, under the
// agent's source, with the count: the diagnostic log beside the executable is
// emptied at every start and lies on the failing volume. One entry of each
// kind an hour at most; the drops of the hour in between come with the next.
TEST_F(AlertLogFlushTest, FailuresAndDropsAreInTheApplicationLogOnceAnHour) {
    const std::size_t itemBytes = MakeItem(L"alert 0", 64 * 1024)->MemoryBytes();
    const int fill = static_cast<int>(CXMLAlertLog::kMaxQueuedBytes / itemBytes) + 10;
    MakeCacheFolderUnwritable();
    AddItems(1, 64 * 1024);
    log_->FlushToCache();  // fails: one alert waits, and from now on the queue is bounded
    AddItems(fill - 1, 64 * 1024, 1);
    log_->FlushToCache();
    const std::size_t firstDrops = fill - log_->QueuedItems();
    clock_.Advance(CXMLAlertLog::kEventLogEntryInterval);  // an hour exactly: not yet
    AddItems(5, 64 * 1024, fill);
    log_->FlushToCache();
    clock_.Advance(1);
    log_->FlushToCache();
    const std::size_t laterDrops = fill + 5 - log_->QueuedItems() - firstDrops;
    ASSERT_GT(firstDrops, 0u);
    ASSERT_GT(laterDrops, 0u);

    const auto entries = log_->EventLog().Reports();
    ASSERT_EQ(entries.size(), 4u);
    const std::wstring folder = log_->CacheDirectory();
    const std::wstring bound = std::to_wstring(CXMLAlertLog::kMaxQueuedBytes);
    const std::vector<std::pair<uint32_t, std::wstring>> expected = {
        {CXMLAlertLog::kCacheFileNotCreatedEventId, L"1"},
        {CXMLAlertLog::kAlertsDroppedEventId, std::to_wstring(firstDrops)},
        {CXMLAlertLog::kCacheFileNotCreatedEventId, std::to_wstring(log_->QueuedItems())},
        {CXMLAlertLog::kAlertsDroppedEventId, std::to_wstring(laterDrops)}};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].source, L"Korvex Agent");
        EXPECT_EQ(entries[i].type, 1) << "error";
        EXPECT_EQ(entries[i].eventId, expected[i].first) << i;
        ASSERT_EQ(entries[i].strings.size(), 3u);
        EXPECT_EQ(entries[i].strings[0], expected[i].second) << i;
        EXPECT_EQ(entries[i].strings[1], folder);
        if (entries[i].eventId == CXMLAlertLog::kAlertsDroppedEventId) {
            EXPECT_EQ(entries[i].strings[2], bound);
        }
    }
}

// A disk that fills while the file is written: the partial file is removed
// (it would send some alerts twice) and every item stays queued until there
// is room. Needs a small file system of its own: Linux, as root.
TEST_F(AlertLogFlushTest, FullDiskRemovesThePartialFileAndKeepsEveryItem) {
#ifdef __linux__
    const std::string folder = cacheFolder_.string();
    if (std::system(("mount -t tmpfs -o size=64k tmpfs " + folder + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no small file system can be mounted here (not root)";
    struct Unmount {
        std::string folder;
        ~Unmount() { std::system(("umount " + folder).c_str()); }
    } unmount{folder};
    AddItems(10, 20 * 1024);  // about 800 KB of cache file
    log_->FlushToCache();
    EXPECT_EQ(log_->QueuedItems(), 10u);
    EXPECT_TRUE(CacheFilesIn(cacheFolder_).empty());
    EXPECT_EQ(CreateErrorsLogged(), 1);
    ASSERT_EQ(std::system(("mount -o remount,size=4m tmpfs " + folder).c_str()), 0);
    log_->FlushToCache();
    EXPECT_EQ(log_->QueuedItems(), 0u);
    EXPECT_EQ(SentActionTexts(), Expected(10));
#else
    GTEST_SKIP() << "mounts a small file system: Linux only";
#endif
}

TEST_F(AlertLogFlushTest, QueueIsNotBoundedWhileFilesCanBeWritten) {
    const std::size_t itemBytes = MakeItem(L"alert 0", 64 * 1024)->MemoryBytes();
    const int count = static_cast<int>(CXMLAlertLog::kMaxQueuedBytes / itemBytes) + 10;
    AddItems(count, 64 * 1024);
    EXPECT_EQ(log_->QueuedItems(), static_cast<std::size_t>(count));
    log_->FlushToCache();
    EXPECT_EQ(SentActionTexts().size(), static_cast<std::size_t>(count));
}

TEST_F(AlertLogFlushTest, BurstIsSplitIntoFilesOfBoundedDocuments) {
    const std::size_t dump = 40 * 1024;
    const int count = static_cast<int>(3 * CXMLAlertLog::kMaxDocumentBytes / (2 * dump));
    AddItems(count, dump);
    log_->FlushToCache();
    const auto files = CacheFilesIn(cacheFolder_);
    EXPECT_GE(files.size(), 3u);
    log_->posted.clear();
    log_->SendCacheFiles();
    std::vector<std::wstring> texts;
    for (const auto& document : log_->posted) {
        EXPECT_LE(document.size() * 2, CXMLAlertLog::kMaxDocumentBytes);
        for (const auto& text : ActionTextsOf(document)) texts.push_back(text);
    }
    EXPECT_EQ(texts, Expected(count));
}

TEST_F(AlertLogFlushTest, ItemLargerThanTheBoundGetsAFileOfItsOwn) {
    AddItems(1);
    AddItems(1, CXMLAlertLog::kMaxDocumentBytes, 1);
    AddItems(1, 0, 2);
    log_->FlushToCache();
    EXPECT_EQ(CacheFilesIn(cacheFolder_).size(), 3u);
    EXPECT_EQ(SentActionTexts(), Expected(3));
}

// A sweep must never take the file that a flush is making. Were the new file
// free (and empty) for a moment, the sweep would post it empty and, once
// answered, delete it by name: after the flush had written its items into it
// and let them go. Here a sweep comes just before the flush opens its file
// (on a thread of its own, answered only once the flush has let its items
// go), and again before each later step of the flush.
TEST_F(AlertLogFlushTest, ASweepDuringAFlushNeverTakesTheFileBeingWritten) {
    using Operation = CRecordingFile::Operation;
    AddItems(3);
    std::promise<void> opening, go, written;
    bool wentOn = false;
    auto goOn = [&] {
        if (!wentOn) go.set_value();
        wentOn = true;
    };
    std::future<void> writtenSignal = written.get_future();
    std::atomic<bool> inTheGap{false};
    log_->answer = [&](const std::wstring&) {
        if (inTheGap) {
            goOn();
            writtenSignal.wait_for(std::chrono::seconds(60));
        }
        return 0u;
    };
    log_->SetItemsWrittenCallback([&] { written.set_value(); });
    CRecordingFile::CJournal journal;
    std::shared_future<void> wentOnSignal = go.get_future().share();
    journal.before = [&](Operation operation, const std::wstring&) {
        if (operation != Operation::Open) return log_->SendCacheFiles();
        opening.set_value();
        wentOnSignal.wait();
    };
    log_->journal = &journal;

    std::thread flush([&] { log_->FlushToCache(); });
    const bool reachedTheOpen =
        opening.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (reachedTheOpen) {
        inTheGap = true;
        log_->SendCacheFiles();
        inTheGap = false;
    }
    goOn();
    flush.join();
    log_->SetItemsWrittenCallback(nullptr);
    ASSERT_TRUE(reachedTheOpen);
    EXPECT_EQ(journal.operations,
              (std::vector<Operation>{Operation::Open, Operation::Write, Operation::FlushToDevice,
                                      Operation::Close}));
    EXPECT_TRUE(log_->posted.empty()) << "a sweep took the file while it was being made";
    EXPECT_EQ(SentActionTexts(), Expected(3));
    EXPECT_TRUE(CacheFilesIn(cacheFolder_).empty());
}

// Cache files are named as GetTempFileNameW names them, from the tick count
// on. Here that name is taken by a file still waiting to be sent: the flush
// passes it by and leaves that file as it was.
TEST_F(AlertLogFlushTest, CacheFilesAreNamedLikeTempFilesAndNeverReplaceOne) {
    clock_.SetTick(0x12345);
    WriteFileBytes(cacheFolder_ / "KX_2345.tmp", "waiting");
    AddItems(2);
    log_->FlushToCache();
    const auto files = CacheFilesIn(cacheFolder_);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(ReadFileBytes(cacheFolder_ / "KX_2345.tmp"), "waiting");
    EXPECT_EQ(files[1].filename().string(), "KX_2346.tmp");
}

TEST_F(AlertLogFlushTest, ItemsQueuedAtDestructionAreWrittenAndSentByTheNextRun) {
    AddItems(4);
    log_.reset();
    EXPECT_EQ(CacheFilesIn(cacheFolder_).size(), 1u);
    NewAlertLog();
    EXPECT_EQ(SentActionTexts(), Expected(4));
}

}  // namespace
