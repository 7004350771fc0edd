#include "common/ManualClock.h"

#include <thread>

CManualClock::CManualClock(uint32_t startTick, int64_t utcMilliseconds, int32_t localOffsetMinutes)
    : tick_(startTick), utc_(utcMilliseconds), offsetMinutes_(localOffsetMinutes) {}

uint32_t CManualClock::GetTickCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tick_;
}

void CManualClock::Sleep(uint32_t milliseconds) {
    SleepHook hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tick_ += milliseconds;
        utc_ += milliseconds;
        slept_ += milliseconds;
        hook = hook_;
    }
    if (hook) hook(milliseconds);
    // Let other threads that poll flags between sleeps make progress.
    std::this_thread::yield();
}

kx::SystemTime CManualClock::GetSystemTime() {
    std::lock_guard<std::mutex> lock(mutex_);
    return kx::UnixMillisecondsToSystemTime(utc_);
}

kx::SystemTime CManualClock::GetLocalTime() {
    std::lock_guard<std::mutex> lock(mutex_);
    return kx::UnixMillisecondsToSystemTime(utc_ + int64_t{offsetMinutes_} * 60000);
}

void CManualClock::Advance(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    tick_ += milliseconds;
    utc_ += milliseconds;
}

void CManualClock::SetTick(uint32_t tick) {
    std::lock_guard<std::mutex> lock(mutex_);
    tick_ = tick;
}

void CManualClock::SetUtc(int64_t utcMilliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    utc_ = utcMilliseconds;
}

void CManualClock::SetLocalOffset(int32_t minutes) {
    std::lock_guard<std::mutex> lock(mutex_);
    offsetMinutes_ = minutes;
}

void CManualClock::SetSleepHook(SleepHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

uint64_t CManualClock::TotalSlept() {
    std::lock_guard<std::mutex> lock(mutex_);
    return slept_;
}
