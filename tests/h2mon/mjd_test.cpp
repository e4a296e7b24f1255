#include "h2mon/mjd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, by era arithmetic with
// floor division: an algorithm independent of the one under test.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

constexpr std::int64_t kMjdOfUnixEpoch = 40587; // 1970-01-01

bool is_leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

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

TEST(MjdDayNumber, AgreesWithCivilCalendarOnEveryDayFrom1601To9999) {
    int mismatches = 0;
    for (int year = 1601; year <= 9999; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= days_in_month(year, month); ++day) {
                const std::int64_t expected = days_from_civil(year, month, day) + kMjdOfUnixEpoch;
                if (mjd_day_number(year, month, day) != expected && ++mismatches <= 5) {
                    ADD_FAILURE() << year << "-" << month << "-" << day << ": got "
                                  << mjd_day_number(year, month, day) << ", expected " << expected;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(MjdDayNumber, KnownDatesLeapDaysAndCenturyYears) {
    struct Case {
        int year, month, day;
        std::int32_t expected;
    };
    const Case cases[] = {
        {1858, 11, 17, 0},     {1858, 11, 16, -1},  {1970, 1, 1, 40587},  {2000, 1, 1, 51544},
        {2000, 2, 29, 51603},  {2000, 3, 1, 51604}, {1900, 2, 28, 15078}, {1900, 3, 1, 15079},
        {2100, 2, 28, 88127},  {2100, 3, 1, 88128}, {2024, 2, 29, 60369}, {2024, 3, 1, 60370},
        {2023, 12, 31, 60309}, {2024, 1, 1, 60310},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mjd_day_number(c.year, c.month, c.day), c.expected)
            << c.year << "-" << c.month << "-" << c.day;
    }
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
    const double before = kMjdOfUnixEpoch + unix_seconds_now() / 86400.0;
    SYSTEMTIME copy{};
    const double mjd = current_mjd(&copy);
    const double after = kMjdOfUnixEpoch + unix_seconds_now() / 86400.0;

    EXPECT_EQ(mjd, mjd_from_systemtime(copy));
    // The reading is truncated to the millisecond.
    const double one_ms = 0.001 / 86400.0;
    EXPECT_GE(mjd, before - one_ms);
    EXPECT_LE(mjd, after + 1e-9);
}

} // namespace
