#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "common/Clock.h"

// A clock that moves only when told to: Sleep advances it at once instead of
// waiting. Safe to use from several threads. A sleep hook lets a test act at
// a chosen moment (stop a loop during a wait, count the pauses).
class CManualClock : public IClock {
public:
    using SleepHook = std::function<void(uint32_t milliseconds)>;

    // The tick counter starts at startTick; the UTC time at utcMilliseconds
    // since 1970. Local time is UTC shifted by localOffsetMinutes.
    explicit CManualClock(uint32_t startTick = 1000000, int64_t utcMilliseconds = 1700000000000LL,
                          int32_t localOffsetMinutes = 0);

    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;
    kx::SystemTime GetSystemTime() override;
    kx::SystemTime GetLocalTime() override;

    void Advance(uint32_t milliseconds);
    void SetTick(uint32_t tick);
    void SetUtc(int64_t utcMilliseconds);
    void SetLocalOffset(int32_t minutes);
    void SetSleepHook(SleepHook hook);
    uint64_t TotalSlept();

private:
    std::mutex mutex_;
    uint32_t tick_;
    int64_t utc_;
    int32_t offsetMinutes_;
    uint64_t slept_ = 0;
    SleepHook hook_;
};

// Installs a clock for the life of a scope and restores the real one after.
class CScopedClock {
public:
    explicit CScopedClock(IClock& clock) { SetClock(&clock); }
    ~CScopedClock() { SetClock(nullptr); }
    CScopedClock(const CScopedClock&) = delete;
    CScopedClock& operator=(const CScopedClock&) = delete;
};
