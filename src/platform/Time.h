#pragma once
// The operating system's time, for CRealClock and for conversions that need
// the time zone. The core reads time through IClock (common/Clock.h).

#include <cstdint>

#include "common/SystemTime.h"

namespace kx::platform {

uint32_t GetTickCount32();
void SleepMilliseconds(uint32_t milliseconds);
SystemTime GetSystemTimeUtc();
SystemTime GetLocalTimeNow();

// Seconds since 1970 (UTC) to the local calendar time, with the time zone and
// daylight rules of the machine. False when the time cannot be converted.
bool UnixSecondsToLocalTime(int64_t seconds, SystemTime* local);
// Local calendar fields back to seconds since 1970, daylight saving
// determined automatically (mktime with tm_isdst = -1).
bool LocalTimeToUnixSeconds(const SystemTime& local, int64_t* seconds);

}  // namespace kx::platform
