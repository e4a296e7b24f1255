#include "telemetry/mjd_time.h"

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and back
// (the era-based conversion: 400-year eras of 146097 days, years starting in
// March so that the leap day ends a year).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

constexpr std::int64_t kNsPerDay = kSecondsPerDay * 1000000000LL;
// A billionth of a day is 86 400 ns exactly.
constexpr std::int64_t kNsPerNanoDay = kSecondsPerDay;
constexpr int kFractionDigits = 9;
// Days that still fit in int64 nanoseconds (year 2262).
constexpr std::int64_t kMaxUnixNsDays = kUnixEpochMjd + 106000;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::int64_t mjd_of_date(std::int64_t year, int month, int day) {
    return days_from_civil(year, month, day) + kUnixEpochMjd;
}

int days_in_month(std::int64_t year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

UtcTime utc_of_mjd_seconds(std::int64_t seconds) {
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    UtcTime utc{};
    civil_from_days(days - kUnixEpochMjd, &utc.year, &utc.month, &utc.day);
    utc.hour = static_cast<int>(rest / 3600);
    utc.minute = static_cast<int>(rest / 60 % 60);
    utc.second = static_cast<int>(rest % 60);
    return utc;
}

double mjd_of_unix_seconds(double unix_seconds) {
    return static_cast<double>(kUnixEpochMjd) + unix_seconds / static_cast<double>(kSecondsPerDay);
}

bool mjd_unix_ns(std::string_view text, std::int64_t* unix_ns) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > 7) {
        return false;
    }
    std::int64_t days = 0;
    for (char c : whole) {
        if (!is_digit(c)) {
            return false;
        }
        days = days * 10 + (c - '0');
    }
    std::int64_t nano_days = 0;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        if (!is_digit(fraction[i])) {
            return false;
        }
        if (i < kFractionDigits) {
            nano_days = nano_days * 10 + (fraction[i] - '0');
        }
    }
    for (std::size_t i = fraction.size(); i < kFractionDigits; ++i) {
        nano_days *= 10;
    }
    if (days < kUnixEpochMjd || days > kMaxUnixNsDays) {
        return false;
    }
    *unix_ns = (days - kUnixEpochMjd) * kNsPerDay + nano_days * kNsPerNanoDay;
    return true;
}
