#include "common/RealClock.h"

#include <atomic>

#include "platform/Time.h"

uint32_t CRealClock::GetTickCount() {
    return kx::platform::GetTickCount32();
}

void CRealClock::Sleep(uint32_t milliseconds) {
    kx::platform::SleepMilliseconds(milliseconds);
}

kx::SystemTime CRealClock::GetSystemTime() {
    return kx::platform::GetSystemTimeUtc();
}

kx::SystemTime CRealClock::GetLocalTime() {
    return kx::platform::GetLocalTimeNow();
}

namespace {

CRealClock g_realClock;
std::atomic<IClock*> g_clock{&g_realClock};

}  // namespace

IClock& GetClock() {
    return *g_clock.load(std::memory_order_acquire);
}

void SetClock(IClock* clock) {
    g_clock.store(clock ? clock : &g_realClock, std::memory_order_release);
}
