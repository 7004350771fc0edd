#pragma once
// The one source of time for the core: tick count, sleep, system and local
// time. Production runs on CRealClock; tests install a CManualClock so that
// rules about intervals run without sleeping.

#include <cstdint>

#include "common/SystemTime.h"

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start, as a 32-bit counter that wraps.
    virtual uint32_t GetTickCount() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual kx::SystemTime GetSystemTime() = 0;  // UTC
    virtual kx::SystemTime GetLocalTime() = 0;
};

// The clock that the core uses. SetClock(nullptr) restores the real clock.
IClock& GetClock();
void SetClock(IClock* clock);

// Unsigned tick difference, harmless across the counter's wrap.
inline uint32_t TicksSince(uint32_t now, uint32_t then) {
    return now - then;
}
