#include "h2mon/mjd.h"

#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

SYSTEMTIME reading(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second,
                   WORD millisecond) {
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = millisecond;
    return time;
}

std::string printed(double mjd) {
    char text[64];
    std::snprintf(text, sizeof text, "%lf", mjd);
    return text;
}

TEST(MjdFromSystemTime, FractionOfDayIncludesMilliseconds) {
    struct Case {
        SYSTEMTIME time;
        const char* expected;
    };
    const Case cases[] = {
        {reading(2000, 1, 1, 12, 0, 0, 0), "51544.500000"},
        {reading(1858, 11, 17, 0, 0, 0, 0), "0.000000"},
        {reading(2024, 3, 1, 6, 0, 0, 0), "60370.250000"},
        // 0.5 s is 5.787e-6 of a day: visible in the sixth decimal.
        {reading(2024, 2, 29, 18, 0, 0, 500), "60369.750006"},
        // The last second of the day still belongs to it.
        {reading(2024, 2, 29, 23, 59, 59, 0), "60369.999988"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(printed(mjd_from_systemtime(c.time)), c.expected);
    }
}

double unix_seconds_now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

TEST(CurrentMjd, ReadsTheUtcClockAndCopiesTheReading) {
    const double before = mjd_of_unix_seconds(unix_seconds_now());
    SYSTEMTIME copy{};
    const double mjd = current_mjd(&copy);
    const double after = mjd_of_unix_seconds(unix_seconds_now());

    EXPECT_EQ(mjd, mjd_from_systemtime(copy));
    // The reading is truncated to the millisecond.
    const double one_ms = 0.001 / 86400.0;
    EXPECT_GE(mjd, before - one_ms);
    EXPECT_LE(mjd, after + 1e-9);
}

} // namespace
