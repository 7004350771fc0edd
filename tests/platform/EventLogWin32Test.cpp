// The Windows event log through the real calls. Under Wine the log is a stub
// (reads fail with 38, reports write nothing), so these are smoke tests that
// hold on Windows as well.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/EventLog.h"
#include "platform/Process.h"

using namespace kx::platform;

TEST(EventLogWin32Test, OpensReadsAndClosesTheLocalApplicationLog) {
    IEventLog& log = GetEventLog();
    EventLogHandle handle = log.Open(nullptr, L"Application");
    ASSERT_NE(handle, nullptr) << GetLastErrorCode();
    uint32_t oldest = 0;
    uint32_t count = 0;
    EXPECT_TRUE(log.GetOldestRecord(handle, &oldest));
    EXPECT_TRUE(log.GetNumberOfRecords(handle, &count));
    std::vector<uint8_t> buffer(kMaximumEventLogReadSize);
    uint32_t read = 0;
    uint32_t needed = 0;
    bool ok = log.Read(handle, kEventLogSequentialRead | kEventLogForwardsRead, 0, buffer.data(),
                       static_cast<uint32_t>(buffer.size()), &read, &needed);
    if (ok) {
        EXPECT_GE(read, 56u);
    } else {
        EXPECT_EQ(GetLastErrorCode(), count == 0 ? kErrorHandleEof : GetLastErrorCode());
    }
    EXPECT_TRUE(log.Close(handle));
}

TEST(EventLogWin32Test, ReportsUnderASource) {
    IEventLog& log = GetEventLog();
    EventSourceHandle source = log.RegisterSource(nullptr, L"Korvex Agent");
    ASSERT_NE(source, nullptr) << GetLastErrorCode();
    const wchar_t* strings[] = {L"smoke test"};
    EXPECT_TRUE(log.Report(source, 4, 0, 0x40000011, nullptr, 1, strings, 0, nullptr));
    EXPECT_TRUE(log.DeregisterSource(source));
}

TEST(EventLogWin32Test, LinuxFileOperationsAreNotOffered) {
    EXPECT_TRUE(GetEventLogFilePath(L"Security").empty());
    EXPECT_FALSE(TrimEventLog(L"Security", 1));
    EXPECT_EQ(GetLastErrorCode(), kErrorNotSupported);
}

#endif  // _WIN32
