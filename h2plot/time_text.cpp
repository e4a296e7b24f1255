#include "h2plot/time_text.h"

#include "telemetry/log_row.h"

#include <cmath>
#include <cstdio>

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and back
// (the usual era-based conversion: 400-year eras of 146097 days, years
// starting in March so that the leap day ends a year).
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

bool leap_year(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap_year(y) ? 29 : days[m - 1];
}

// Reads exactly `count` decimal digits at `at` as a number.
bool digits(std::string_view text, std::size_t at, std::size_t count, int* value) {
    if (at + count > text.size()) {
        return false;
    }
    *value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

// "HH:MM", ":SS" and ".fraction" optional, "Z" optional: seconds of the day.
std::optional<double> parse_clock(std::string_view text) {
    int hour, minute, second = 0;
    if (!digits(text, 0, 2, &hour) || text.size() < 5 || text[2] != ':' ||
        !digits(text, 3, 2, &minute) || hour > 23 || minute > 59) {
        return std::nullopt;
    }
    std::size_t at = 5;
    double fraction = 0;
    if (at < text.size() && text[at] == ':') {
        if (!digits(text, at + 1, 2, &second) || second > 59) {
            return std::nullopt;
        }
        at += 3;
        if (at < text.size() && text[at] == '.') {
            std::size_t end = at + 1;
            while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
                ++end;
            }
            if (end == at + 1 || !parse_decimal(text.substr(at, end - at), &fraction)) {
                return std::nullopt;
            }
            at = end;
        }
    }
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return (hour * 60 + minute) * 60 + second + fraction;
}

std::optional<MicroDay> parse_iso(std::string_view text) {
    int year, month, day;
    if (!digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' ||
        !digits(text, 5, 2, &month) || text[7] != '-' || !digits(text, 8, 2, &day) || month < 1 ||
        month > 12 || day < 1 || day > days_in_month(year, month)) {
        return std::nullopt;
    }
    const MicroDay midnight = mjd_of_date(year, month, day) * kMicroDaysPerDay;
    if (text.size() == 10) {
        return midnight;
    }
    if (text[10] != 'T' && text[10] != ' ') {
        return std::nullopt;
    }
    const std::optional<double> seconds = parse_clock(text.substr(11));
    if (!seconds) {
        return std::nullopt;
    }
    return midnight + std::llround(*seconds * kMicroDaysPerDay / 86400.0);
}

} // namespace

MicroDay micro_days(double mjd) {
    return std::llround(mjd * kMicroDaysPerDay);
}

std::int64_t mjd_of_date(int year, int month, int day) {
    return days_from_civil(year, month, day) + kUnixEpochMjd;
}

std::optional<MicroDay> parse_time(std::string_view text) {
    if (text.size() >= 10 && text[4] == '-') {
        return parse_iso(text);
    }
    double mjd;
    // From MJD 0 (1858-11-17) to the end of the year 9999, which four digits
    // of a year still name.
    static const double kLast = static_cast<double>(mjd_of_date(10000, 1, 1));
    if (!parse_decimal(text, &mjd) || mjd < 0 || mjd >= kLast) {
        return std::nullopt;
    }
    return micro_days(mjd);
}

UtcTime utc_time(MicroDay t) {
    // Whole seconds since MJD 0, rounded: a microday is 0.0864 s.
    const std::int64_t seconds = (t * 864 + (t >= 0 ? 5000 : -5000)) / 10000;
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    UtcTime utc{};
    civil_from_days(days - kUnixEpochMjd, &utc.year, &utc.month, &utc.day);
    utc.hour = static_cast<int>(rest / 3600);
    utc.minute = static_cast<int>(rest / 60 % 60);
    utc.second = static_cast<int>(rest % 60);
    return utc;
}

std::string utc_text(MicroDay t, int clock_digits) {
    const UtcTime utc = utc_time(t);
    char text[32];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", utc.year, utc.month, utc.day);
    const int clock[] = {utc.hour, utc.minute, utc.second};
    for (int i = 0; i < clock_digits / 2 && i < 3; ++i) {
        n += std::snprintf(text + n, sizeof text - n, i == 0 ? " %02d" : ":%02d", clock[i]);
    }
    return text;
}
