#include "h2mon/mjd.h"

#include "telemetry/mjd_time.h"

// The clock copy is handed out as the platform's 16-byte record: eight 16-bit fields.
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit fields");

double mjd_from_systemtime(const SYSTEMTIME& time) {
    const std::int32_t whole_seconds = (time.wHour * 60 + time.wMinute) * 60 + time.wSecond;
    const double seconds = whole_seconds + time.wMilliseconds / 1000.0;
    // The day number is the calendar's, the same for every date a SYSTEMTIME holds
    // (1601 to 30827) as the 32-bit formula h2mon's records were first made with.
    return static_cast<double>(mjd_of_date(time.wYear, time.wMonth, time.wDay)) +
           seconds / static_cast<double>(kSecondsPerDay);
}

double current_mjd(SYSTEMTIME* clock_copy) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    if (clock_copy != nullptr) {
        *clock_copy = now;
    }
    return mjd_from_systemtime(now);
}
