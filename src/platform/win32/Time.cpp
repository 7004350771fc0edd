#include "platform/Time.h"

#include <windows.h>

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

SYSTEMTIME ToNative(const SystemTime& time) {
    SYSTEMTIME native{};
    native.wYear = time.year;
    native.wMonth = time.month;
    native.wDay = time.day;
    native.wHour = time.hour;
    native.wMinute = time.minute;
    native.wSecond = time.second;
    return native;
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

// The inverse of UnixSecondsToLocalTime, through the same Windows time zone:
// the C runtime's _mktime64 would follow a TZ variable instead, where one is
// set, and the two conversions would disagree.
bool LocalTimeToUnixSeconds(const SystemTime& local, int64_t* seconds) {
    const SYSTEMTIME native = ToNative(local);
    SYSTEMTIME utc;
    FILETIME file;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &native, &utc) ||
        !SystemTimeToFileTime(&utc, &file))
        return false;
    ULARGE_INTEGER value;
    value.LowPart = file.dwLowDateTime;
    value.HighPart = file.dwHighDateTime;
    *seconds = FileTimeToUnixSeconds(static_cast<int64_t>(value.QuadPart));
    return true;
}

}  // namespace kx::platform
