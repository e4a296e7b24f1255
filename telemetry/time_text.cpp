#include "telemetry/time_text.h"

#include "telemetry/log_row.h"
#include "telemetry/mjd_time.h"

#include <cmath>
#include <cstdio>

namespace {

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

std::optional<double> parse_duration_seconds(std::string_view text) {
    static const struct {
        std::string_view unit;
        double seconds;
    } kUnits[] = {{"s", 1}, {"min", 60}, {"h", 3600}, {"d", 86400}, {"w", 7 * 86400}};
    std::size_t digits_end = 0;
    double count = 0;
    // Nine digits: some 19 000 years of weeks, exact in a double.
    while (digits_end < text.size() && digits_end < 9 && text[digits_end] >= '0' &&
           text[digits_end] <= '9') {
        count = count * 10 + (text[digits_end++] - '0');
    }
    for (const auto& unit : kUnits) {
        if (digits_end > 0 && count > 0 && text.substr(digits_end) == unit.unit) {
            return count * unit.seconds;
        }
    }
    return std::nullopt;
}

namespace {

// Whole seconds since MJD 0, rounded: a microday is 0.0864 s.
std::int64_t whole_seconds(MicroDay t) {
    return (t * 864 + (t >= 0 ? 5000 : -5000)) / 10000;
}

} // namespace

UtcTime utc_time(MicroDay t) {
    return utc_of_mjd_seconds(whole_seconds(t));
}

const char* weekday_name(MicroDay t) {
    static const char* const kNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                         "Friday", "Saturday", "Sunday"};
    const std::int64_t seconds = whole_seconds(t);
    const std::int64_t day = seconds / kSecondsPerDay - (seconds % kSecondsPerDay < 0 ? 1 : 0);
    // MJD 0, 1858-11-17, was a Wednesday.
    return kNames[((day + 2) % 7 + 7) % 7];
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
