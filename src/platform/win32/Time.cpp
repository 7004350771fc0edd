#include "platform/Time.h"

#include <windows.h>

#include <ctime>

namespace kx::platform {
namespace {

SystemTime FromNative(const SYSTEMTIME& native) {
    SystemTime time;
    time.year = native.wYear;
    time.month = native.wMonth;
    time.dayOfWeek = native.wDayOfWeek;
    time.day = native.wDay;
    time.hour = native.wHour;
    time.minute = native.wMinute;
    time.second = native.wSecond;
    time.milliseconds = native.wMilliseconds;
    return time;
}

}  // namespace

uint32_t GetTickCount32() {
    return GetTickCount();
}

void SleepMilliseconds(uint32_t milliseconds) {
    Sleep(milliseconds);
}

SystemTime GetSystemTimeUtc() {
    SYSTEMTIME native;
    GetSystemTime(&native);
    return FromNative(native);
}

SystemTime GetLocalTimeNow() {
    SYSTEMTIME native;
    GetLocalTime(&native);
    return FromNative(native);
}

bool UnixSecondsToLocalTime(int64_t seconds, SystemTime* local) {
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(UnixSecondsToFileTime(seconds));
    FILETIME utc{value.LowPart, value.HighPart};
    SYSTEMTIME utcFields;
    SYSTEMTIME native;
    // The zone's daylight rule for that date, as the C runtime's localtime
    // applies it; FileTimeToLocalFileTime would use today's offset instead.
    if (!FileTimeToSystemTime(&utc, &utcFields) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcFields, &native))
        return false;
    *local = FromNative(native);
    return true;
}

bool LocalTimeToUnixSeconds(const SystemTime& local, int64_t* seconds) {
    std::tm fields = ToCalendarFields(local);
    __time64_t value = _mktime64(&fields);
    if (value == -1) return false;
    *seconds = static_cast<int64_t>(value);
    return true;
}

}  // namespace kx::platform
