#include "h2mon/mjd.h"

// The clock copy is handed out as the platform's 16-byte record: eight 16-bit fields.
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit fields");

std::int32_t mjd_day_number(std::int32_t year, std::int32_t month, std::int32_t day) {
    // Every division truncates toward zero; (month - 9) / 7 is -1 for January and
    // February, which moves them to the end of the previous year for the leap rule.
    return 367 * year - (7 * (year + (month + 9) / 12)) / 4 -
           (3 * ((year + (month - 9) / 7) / 100 + 1)) / 4 + (275 * month) / 9 + day - 678972;
}

double mjd_from_systemtime(const SYSTEMTIME& time) {
    const std::int32_t whole_seconds = (time.wHour * 60 + time.wMinute) * 60 + time.wSecond;
    const double seconds = whole_seconds + time.wMilliseconds / 1000.0;
    return mjd_day_number(time.wYear, time.wMonth, time.wDay) + seconds / 86400.0;
}

double current_mjd(SYSTEMTIME* clock_copy) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    if (clock_copy != nullptr) {
        *clock_copy = now;
    }
    return mjd_from_systemtime(now);
}
