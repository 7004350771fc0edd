#pragma once
// Calendar time as the platform's SYSTEMTIME holds it, and the conversions
// between it, seconds since 1970 and file time (100 ns units since 1601).

#include <cstdint>
#include <ctime>

namespace kx {

struct SystemTime {
    uint16_t year = 1970;
    uint16_t month = 1;      // 1-12
    uint16_t dayOfWeek = 4;  // 0 = Sunday
    uint16_t day = 1;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
inline constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;

// Milliseconds since 1970-01-01 (UTC or local, as the caller means it).
int64_t SystemTimeToUnixMilliseconds(const SystemTime& time);
SystemTime UnixMillisecondsToSystemTime(int64_t milliseconds);

// Seconds since 1970 from a file time, rounded toward minus infinity.
int64_t FileTimeToUnixSeconds(int64_t fileTime);
int64_t UnixSecondsToFileTime(int64_t seconds);

// Calendar fields for mktime; daylight saving left to the C library (-1).
std::tm ToCalendarFields(const SystemTime& time);

}  // namespace kx
