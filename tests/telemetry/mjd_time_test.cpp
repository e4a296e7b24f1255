#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

namespace {

// The integer formula h2mon's records were first stamped with (32-bit,
// truncating division): the reference the calendar conversion must match.
std::int32_t formula_day_number(std::int32_t y, std::int32_t m, std::int32_t d) {
    return 367 * y - (7 * (y + (m + 9) / 12)) / 4 - (3 * ((y + (m - 9) / 7) / 100 + 1)) / 4 +
           (275 * m) / 9 + d - 678972;
}

TEST(MjdOfDate, MatchesTheRecordsFormulaOnEveryDayAClockReadingHolds) {
    int mismatches = 0;
    for (int year = 1601; year <= 30827; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= days_in_month(year, month); ++day) {
                const std::int64_t got = mjd_of_date(year, month, day);
                if (got != formula_day_number(year, month, day) && ++mismatches <= 5) {
                    ADD_FAILURE() << year << "-" << month << "-" << day << ": got " << got;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(MjdOfDate, KnownDatesLeapDaysAndCenturyYears) {
    const struct {
        int year, month, day;
        std::int64_t expected;
    } cases[] = {
        {1858, 11, 17, 0},     {1858, 11, 16, -1},   {1970, 1, 1, kUnixEpochMjd},
        {2000, 1, 1, 51544},   {2000, 2, 29, 51603}, {2000, 3, 1, 51604},
        {1900, 2, 28, 15078},  {1900, 3, 1, 15079},  {2100, 2, 28, 88127},
        {2100, 3, 1, 88128},   {2024, 2, 29, 60369}, {2024, 3, 1, 60370},
        {2023, 12, 31, 60309}, {2024, 1, 1, 60310},  {0, 3, 1, -678881},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mjd_of_date(c.year, c.month, c.day), c.expected)
            << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(UtcOfMjdSeconds, InvertsMjdOfDateAndSplitsTheDay) {
    for (std::int64_t mjd : {std::int64_t{-1}, std::int64_t{0}, kUnixEpochMjd, std::int64_t{60369},
                             mjd_of_date(9999, 12, 31)}) {
        const UtcTime utc = utc_of_mjd_seconds(mjd * kSecondsPerDay + 13 * 3600 + 45 * 60 + 30);
        EXPECT_EQ(mjd_of_date(utc.year, utc.month, utc.day), mjd) << mjd;
        EXPECT_EQ(utc.hour * 10000 + utc.minute * 100 + utc.second, 134530) << mjd;
    }
    const UtcTime before_mjd0 = utc_of_mjd_seconds(-1);
    EXPECT_EQ(before_mjd0.day * 1000000 + before_mjd0.hour * 10000 + before_mjd0.minute * 100 +
                  before_mjd0.second,
              16235959);
}

TEST(MjdUnixNs, NanosecondsFromTheDigitsExactly) {
    const struct {
        const char* text;
        bool ok;
        std::int64_t ns;
    } cases[] = {
        {"40587", true, 0},
        {"40587.000001", true, 86400000},
        {"51544.500000", true, 946728000000000000},
        {"61384.290591", true, 1796885907062400000},
        {"61384.2905911239", true, 1796885907073027200}, // past nine decimals: dropped
        {"40586.999999", false, 0},
        {"", false, 0},
        {".5", false, 0},
        {"-40587", false, 0},
        {"4e4", false, 0},
        {"61384.29x", false, 0},
        {"99999999", false, 0},
    };
    for (const auto& c : cases) {
        std::int64_t ns = 0;
        EXPECT_EQ(mjd_unix_ns(c.text, &ns), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(ns, c.ns) << c.text;
        }
    }
}

TEST(MjdOfUnixSeconds, EpochAndADay) {
    EXPECT_EQ(mjd_of_unix_seconds(0), 40587.0);
    EXPECT_EQ(mjd_of_unix_seconds(86400 * 1.5), 40588.5);
}

} // namespace
