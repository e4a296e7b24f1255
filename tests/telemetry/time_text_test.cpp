#include "telemetry/time_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseTime, MjdsAndUtcDatesAndDateTimes) {
    const struct {
        const char* text;
        MicroDay expected;
    } cases[] = {
        {"61384.5", 61384500000},
        {"0", 0},
        {"61384.2905915", 61384290592}, // rounded to the microday
        {"1858-11-17", 0},
        {"2000-01-01T12:00:00Z", 51544500000},
        {"2000-01-01 12:00", 51544500000},
        {"2024-02-29", 60369000000},
        {"2024-03-01T00:00:00", 60370000000},
        {"2026-12-10T13:45:30.5Z", 61384573270}, // 49530.5 s of the day
        {"1900-03-01", 15079000000},
        {"2400-02-29", 197700000000},
    };
    for (const auto& c : cases) {
        const std::optional<MicroDay> t = parse_time(c.text);
        ASSERT_TRUE(t) << c.text;
        EXPECT_EQ(*t, c.expected) << c.text;
    }
}

TEST(ParseTime, RefusesWhatIsNoTime) {
    for (const char* text :
         {"", "abc", "-1", "1e5", "61384,5", "2023-02-29", "1900-02-29", "2026-13-01", "2026-00-10",
          "2026-12-32", "2026-12-10T24:00", "2026-12-10T13:60", "2026-12-10T13",
          "2026-12-10T13:45:61", "2026-12-10X13:45", "2026-12-10T13:45+01:00",
          "2026-12-10T13:45:30.", "26-12-10", "10000000"}) {
        EXPECT_FALSE(parse_time(text)) << text;
    }
}

TEST(ParseDuration, ACountAndAUnitInSeconds) {
    const struct {
        const char* text;
        double seconds;
    } good[] = {{"10s", 10}, {"5min", 300}, {"12h", 43200}, {"28d", 2419200}, {"2w", 1209600}};
    for (const auto& c : good) {
        ASSERT_TRUE(parse_duration_seconds(c.text)) << c.text;
        EXPECT_EQ(*parse_duration_seconds(c.text), c.seconds) << c.text;
    }
    for (const char* text :
         {"", "10", "s", "0s", "10m", "1.5h", "-1d", "10 s", "7dd", "1234567890s"}) {
        EXPECT_FALSE(parse_duration_seconds(text)) << text;
    }
}

TEST(UtcText, DatesAndClockDigitsRoundedToTheSecond) {
    const struct {
        MicroDay t;
        int digits;
        const char* expected;
    } cases[] = {
        {51544500000, 0, "2000-01-01"},
        {51544500000, 4, "2000-01-01 12:00"},
        {61384573269, 6, "2026-12-10 13:45:30"},
        {60369999999, 6, "2024-03-01 00:00:00"}, // 0.0864 s before midnight
        {60369999994, 6, "2024-02-29 23:59:59"},
        {0, 2, "1858-11-17 00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utc_text(c.t, c.digits), c.expected) << c.t;
    }
}

TEST(UtcText, WeekdaysOfTheSecondTheTextShows) {
    const struct {
        MicroDay t;
        const char* expected;
    } cases[] = {
        {0, "Wednesday"},          // 1858-11-17
        {61192000000, "Monday"},   // 2026-06-01
        {61197999999, "Sunday"},   // 2026-06-06 23:59:59.99, shown as 2026-06-07 00:00:00
        {61197999994, "Saturday"}, // 2026-06-06 23:59:59
        {-1000000, "Tuesday"},     // the day before MJD 0
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(weekday_name(c.t), c.expected) << c.t;
    }
}

} // namespace
