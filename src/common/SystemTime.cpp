#include "common/SystemTime.h"

namespace kx {
namespace {

// Days between 1970-01-01 and the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

}  // namespace

int64_t SystemTimeToUnixMilliseconds(const SystemTime& time) {
    int64_t days = DaysFromCivil(time.year, time.month, time.day);
    int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
    return seconds * 1000 + time.milliseconds;
}

SystemTime UnixMillisecondsToSystemTime(int64_t milliseconds) {
    int64_t days = FloorDiv(milliseconds, 86400000);
    int64_t rest = milliseconds - days * 86400000;
    SystemTime time;
    time.hour = static_cast<uint16_t>(rest / 3600000);
    time.minute = static_cast<uint16_t>(rest / 60000 % 60);
    time.second = static_cast<uint16_t>(rest / 1000 % 60);
    time.milliseconds = static_cast<uint16_t>(rest % 1000);
    time.dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    // Civil date from days (inverse of DaysFromCivil).
    int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(z - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    time.year = static_cast<uint16_t>(static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2));
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(day);
    return time;
}

std::tm ToCalendarFields(const SystemTime& time) {
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_hour = time.hour;
    fields.tm_min = time.minute;
    fields.tm_sec = time.second;
    fields.tm_isdst = -1;
    return fields;
}

int64_t FileTimeToUnixSeconds(int64_t fileTime) {
    return FloorDiv(fileTime - kFileTimeUnixEpoch, 10000000);
}

int64_t UnixSecondsToFileTime(int64_t seconds) {
    return seconds * 10000000 + kFileTimeUnixEpoch;
}

}  // namespace kx
