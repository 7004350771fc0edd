#include <gtest/gtest.h>

#include <vector>

#include "common/Clock.h"
#include "common/ManualClock.h"
#include "common/SystemTime.h"

TEST(SystemTimeTest, CalendarConversionsRoundTrip) {
    kx::SystemTime epoch = kx::UnixMillisecondsToSystemTime(0);
    EXPECT_EQ(epoch.year, 1970);
    EXPECT_EQ(epoch.dayOfWeek, 4);
    kx::SystemTime leap = kx::UnixMillisecondsToSystemTime(951782400123LL);  // 2000-02-29
    EXPECT_EQ(leap.year, 2000);
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    EXPECT_EQ(leap.dayOfWeek, 2);
    EXPECT_EQ(leap.milliseconds, 123);
    EXPECT_EQ(kx::SystemTimeToUnixMilliseconds(leap), 951782400123LL);
    kx::SystemTime before = kx::UnixMillisecondsToSystemTime(-1);
    EXPECT_EQ(before.year, 1969);
    EXPECT_EQ(before.second, 59);
    EXPECT_EQ(before.milliseconds, 999);
}

TEST(SystemTimeTest, FileTimeToSecondsRoundsTowardMinusInfinity) {
    EXPECT_EQ(kx::FileTimeToUnixSeconds(kx::kFileTimeUnixEpoch), 0);
    EXPECT_EQ(kx::FileTimeToUnixSeconds(kx::kFileTimeUnixEpoch + 9999999), 0);
    EXPECT_EQ(kx::FileTimeToUnixSeconds(kx::kFileTimeUnixEpoch - 1), -1);
    EXPECT_EQ(kx::UnixSecondsToFileTime(1), kx::kFileTimeUnixEpoch + 10000000);
}

TEST(ManualClockTest, SleepAdvancesTimeAtOnceAndCallsTheHook) {
    CManualClock clock(0xFFFFFF00u, 0, 60);
    std::vector<uint32_t> sleeps;
    clock.SetSleepHook([&](uint32_t ms) { sleeps.push_back(ms); });
    CScopedClock installed(clock);
    uint32_t start = GetClock().GetTickCount();
    GetClock().Sleep(500);
    GetClock().Sleep(300);
    EXPECT_EQ(TicksSince(GetClock().GetTickCount(), start), 800u);  // across the wrap
    EXPECT_LT(GetClock().GetTickCount(), start);
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{500, 300}));
    EXPECT_EQ(clock.TotalSlept(), 800u);
    EXPECT_EQ(GetClock().GetSystemTime().hour, 0);
    EXPECT_EQ(GetClock().GetLocalTime().hour, 1);
    EXPECT_EQ(GetClock().GetLocalTime().milliseconds, 800);
}
