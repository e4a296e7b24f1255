#include "h2mon/win32/win32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace {

std::int64_t unix_milliseconds_now() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TEST(GetSystemTime, SplitsTheUtcClockIntoCalendarFields) {
    const std::int64_t before = unix_milliseconds_now();
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const std::int64_t after = unix_milliseconds_now();

    tm fields{};
    fields.tm_year = now.wYear - 1900;
    fields.tm_mon = now.wMonth - 1;
    fields.tm_mday = now.wDay;
    fields.tm_hour = now.wHour;
    fields.tm_min = now.wMinute;
    fields.tm_sec = now.wSecond;
    const std::int64_t seconds = timegm(&fields);
    const std::int64_t reading = seconds * 1000 + now.wMilliseconds;

    EXPECT_LT(now.wMilliseconds, 1000);
    EXPECT_GE(reading, before);
    EXPECT_LE(reading, after);
    // 1970-01-01 was a Thursday; Sunday counts as 0.
    EXPECT_EQ(now.wDayOfWeek, (seconds / 86400 + 4) % 7);
}

} // namespace
