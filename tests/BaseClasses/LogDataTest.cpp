#include "BaseClasses/LogData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "BaseClasses/LoggerThread.h"
#include "FailingAllocator.h"
#include "TempDirectory.h"
#include "common/Format.h"
#include "common/ManualClock.h"
#include "common/Text.h"
#include "platform/Process.h"

namespace {

constexpr const wchar_t* kSource = L"..\\tests\\LogDataTest.cpp";

// The writer thread stamps each line with the local time: a clock that
// throws there makes the writing of a line fail.
class CFailingLocalTimeClock : public CManualClock {
public:
    kx::SystemTime GetLocalTime() override {
        if (failures.load() > 0) {
            --failures;
            throw std::bad_alloc();
        }
        return CManualClock::GetLocalTime();
    }
    std::atomic<int> failures{0};
};

// Each test gets its own "executable folder", so the log lands there.
class LogDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        kx::platform::SetExecutablePathForTesting(dir_.Join(L"KXWkstnSvc.exe"));
        clock_.SetUtc(
            kx::SystemTimeToUnixMilliseconds(kx::SystemTime{2026, 12, 2, 8, 9, 5, 7, 42}));
    }
    void TearDown() override {
        CloseDiagnosticLog();
        kx::platform::SetExecutablePathForTesting(L"");
    }

    std::filesystem::path LogPath() const { return dir_.Path() / "BWAgentSvc.log"; }
    std::string LogBytes() const { return ReadFileBytes(LogPath()); }
    std::string ThreadTag() const {
        return kx::WideToUtf8(
            kx::Format(L"Thread(%06d)", kx::platform::GetCurrentThreadIdentifier()));
    }

    CTempDirectory dir_;
    CFailingLocalTimeClock clock_;
    CScopedClock installed_{clock_};
};

void TracedMethod(bool fail) {
    CLogData trace(kSource, __LINE__, L"CSample::Method");
    if (fail) throw std::runtime_error("failure");
    trace.MarkNormalExit(__LINE__);
}

}  // namespace

TEST_F(LogDataTest, ErrorLineIsExactByteForByte) {
    ASSERT_TRUE(InitDiagnosticLog(4));
    LogMessage(kSource, __LINE__, kLogError, L"Disk %s is full (%d).", L"C:", 112);
    CloseDiagnosticLog();
    EXPECT_EQ(LogBytes(),
              "09:05:07.042 " + ThreadTag() + "      ***Error:  Disk C: is full (112). \r\n");
}

TEST_F(LogDataTest, ThresholdTwoWritesErrorsWarningsAndInformationOnly) {
    ASSERT_TRUE(InitDiagnosticLog(2));
    TracedMethod(false);
    LogMessage(kSource, __LINE__, kLogError, L"e");
    LogMessage(kSource, __LINE__, kLogWarning, L"w");
    LogMessage(kSource, __LINE__, kLogInformation, L"i");
    LogMessage(kSource, __LINE__, kLogDetail, L"d");
    CloseDiagnosticLog();
    std::string tag = "09:05:07.042 " + ThreadTag();
    EXPECT_EQ(LogBytes(), tag + "      ***Error:  e \r\n" + tag + "     **Warning:  w \r\n" + tag +
                              "  *Information:  i \r\n");
}

TEST_F(LogDataTest, ThresholdZeroTracesNormalAndAbnormalExits) {
    ASSERT_TRUE(InitDiagnosticLog(0));
    TracedMethod(false);
    EXPECT_THROW(TracedMethod(true), std::runtime_error);
    CloseDiagnosticLog();
    std::string tag = "09:05:07.042 " + ThreadTag();
    EXPECT_EQ(LogBytes(), tag + "      Entering:   CSample::Method\r\n" + tag +
                              "       Exiting:   CSample::Method\r\n" + tag +
                              "      Entering:   CSample::Method\r\n" + tag +
                              " Abnormal exit:   CSample::Method\r\n");
}

TEST_F(LogDataTest, PlainRecordAtThresholdZeroAlsoTracesItsEnd) {
    ASSERT_TRUE(InitDiagnosticLog(0));
    LogMessage(kSource, __LINE__, kLogDetail, L"fine");
    CloseDiagnosticLog();
    std::string tag = "09:05:07.042 " + ThreadTag();
    EXPECT_EQ(LogBytes(), tag + "       *Detail:  fine \r\n" + tag + "       Exiting:   \r\n");
}

TEST_F(LogDataTest, ThresholdFiveWritesNothingAndLeavesNoFile) {
    ASSERT_TRUE(InitDiagnosticLog(5));
    TracedMethod(false);
    LogMessage(kSource, __LINE__, kLogError, L"not written");
    EXPECT_TRUE(std::filesystem::exists(LogPath()));
    CloseDiagnosticLog();
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(LogDataTest, EmptyFormatWritesNothing) {
    ASSERT_TRUE(InitDiagnosticLog(4));
    LogMessage(kSource, __LINE__, kLogError, L"");
    CloseDiagnosticLog();
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(LogDataTest, OldFileIsEmptiedAtStart) {
    WriteFileBytes(LogPath(), "old content of an earlier run\r\n");
    ASSERT_TRUE(InitDiagnosticLog(3));
    LogMessage(kSource, __LINE__, kLogWarning, L"new");
    CloseDiagnosticLog();
    EXPECT_EQ(LogBytes(), "09:05:07.042 " + ThreadTag() + "     **Warning:  new \r\n");
}

TEST_F(LogDataTest, LoggingBeforeStartAndAfterCloseIsIgnored) {
    LogMessage(kSource, __LINE__, kLogError, L"before");
    ASSERT_TRUE(InitDiagnosticLog(4));
    CloseDiagnosticLog();
    LogMessage(kSource, __LINE__, kLogError, L"after");
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(LogDataTest, SecondInitOnlyChangesTheThreshold) {
    ASSERT_TRUE(InitDiagnosticLog(4));
    LogMessage(kSource, __LINE__, kLogError, L"one");
    ASSERT_TRUE(InitDiagnosticLog(2));
    LogMessage(kSource, __LINE__, kLogInformation, L"two");
    CloseDiagnosticLog();
    std::string tag = "09:05:07.042 " + ThreadTag();
    EXPECT_EQ(LogBytes(), tag + "      ***Error:  one \r\n" + tag + "  *Information:  two \r\n");
}

TEST_F(LogDataTest, ExecutablePathWithoutFolderPutsTheLogInTheWorkingDirectory) {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    kx::platform::SetExecutablePathForTesting(L"KXWkstnSvc.exe");
    ASSERT_TRUE(InitDiagnosticLog(4));
    LogMessage(kSource, __LINE__, kLogError, L"here");
    CloseDiagnosticLog();
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::exists(LogPath()));
}

TEST_F(LogDataTest, LinesFromSeveralThreadsAreWrittenWholeWithTheirThreadIds) {
    ASSERT_TRUE(InitDiagnosticLog(2));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                LogMessage(kSource, __LINE__, kLogInformation, L"t%d line %d", t, i);
        });
    }
    for (auto& thread : threads) thread.join();
    CloseDiagnosticLog();
    std::string bytes = LogBytes();
    size_t lines = 0;
    for (size_t pos = 0; (pos = bytes.find("\r\n", pos)) != std::string::npos; pos += 2) ++lines;
    EXPECT_EQ(lines, 200u);
    EXPECT_NE(bytes.find("t3 line 49 \r\n"), std::string::npos);
}

TEST_F(LogDataTest, TextOutsideAsciiIsWrittenInTheAnsiCodePage) {
    ASSERT_TRUE(InitDiagnosticLog(4));
    LogMessage(kSource, __LINE__, kLogError, L"caf\u00e9");
    CloseDiagnosticLog();
#ifdef _WIN32
    // Wine's default ANSI code page is 1252, where e-acute is one byte.
    EXPECT_NE(LogBytes().find("caf\xE9 \r\n"), std::string::npos);
#else
    EXPECT_NE(LogBytes().find("caf\xC3\xA9 \r\n"), std::string::npos);
#endif
}

TEST_F(LogDataTest, ALineThatFailsOnTheWriterThreadIsLostAndTheNextIsWritten) {
    ASSERT_TRUE(InitDiagnosticLog(4));
    clock_.failures = 1;
    LogMessage(kSource, __LINE__, kLogError, L"lost");
    LogMessage(kSource, __LINE__, kLogError, L"written");
    CloseDiagnosticLog();
    EXPECT_EQ(clock_.failures.load(), 0) << "the first line met the failure";
    EXPECT_EQ(LogBytes(), "09:05:07.042 " + ThreadTag() + "      ***Error:  written \r\n");
}

TEST_F(LogDataTest, APrefixThatCannotBeCopiedDoesNotPropagate) {
    ASSERT_TRUE(InitDiagnosticLog(4));
    {
        CLogData record(kSource, __LINE__);
        record.level = kLogError;
        FailNextAllocations(1);
        EXPECT_NO_THROW(record.SetPrefix(L"***Error: with a long tail"));
        EXPECT_EQ(PendingAllocationFailures(), 0) << "the copy met the failure";
        record.SetPrefix(kPrefixError);
        record.Log(L"next");
    }
    CloseDiagnosticLog();
    EXPECT_NE(LogBytes().find("      ***Error:  next \r\n"), std::string::npos);
}

TEST(LoggerThreadTest, AHandlerThatThrowsEndsOnlyItsLine) {
    std::vector<std::wstring> handled;
    CLoggerThread writer([&](const std::wstring& text, uint32_t) {
        if (text == L"first") throw std::bad_alloc();
        handled.push_back(text);
    });
    ASSERT_TRUE(writer.Start());
    writer.PostLine(L"first", 1);
    writer.PostLine(L"second", 1);
    writer.WaitUntilIdle();
    EXPECT_TRUE(writer.IsRunning());
    writer.Quit();
    EXPECT_EQ(handled, std::vector<std::wstring>{L"second"});
}
