#include "platform/Time.h"

#include <time.h>

#include <cerrno>

namespace kx::platform {

uint32_t GetTickCount32() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SleepMilliseconds(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) == -1 && errno == EINTR) {
    }
}

SystemTime GetSystemTimeUtc() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return UnixMillisecondsToSystemTime(int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000);
}

SystemTime GetLocalTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    SystemTime local;
    if (!UnixSecondsToLocalTime(now.tv_sec, &local)) return GetSystemTimeUtc();
    local.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return local;
}

bool UnixSecondsToLocalTime(int64_t seconds, SystemTime* local) {
    time_t value = static_cast<time_t>(seconds);
    tm fields{};
    if (localtime_r(&value, &fields) == nullptr) return false;
    local->year = static_cast<uint16_t>(fields.tm_year + 1900);
    local->month = static_cast<uint16_t>(fields.tm_mon + 1);
    local->dayOfWeek = static_cast<uint16_t>(fields.tm_wday);
    local->day = static_cast<uint16_t>(fields.tm_mday);
    local->hour = static_cast<uint16_t>(fields.tm_hour);
    local->minute = static_cast<uint16_t>(fields.tm_min);
    local->second = static_cast<uint16_t>(fields.tm_sec);
    local->milliseconds = 0;
    return true;
}

bool LocalTimeToUnixSeconds(const SystemTime& local, int64_t* seconds) {
    std::tm fields = ToCalendarFields(local);
    errno = 0;
    time_t value = mktime(&fields);
    if (value == static_cast<time_t>(-1) && errno != 0) return false;
    *seconds = static_cast<int64_t>(value);
    return true;
}

}  // namespace kx::platform
