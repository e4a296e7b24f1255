// Time as h2mon's records carry it: a Modified Julian Date (MJD), days since
// 1858-11-17 00:00 UTC with the fraction of the day. The conversions to and
// from the calendar and the Unix clock that every program uses.
#pragma once

#include <cstdint>
#include <string_view>

// MJD of the Unix epoch, 1970-01-01 00:00 UTC.
constexpr std::int64_t kUnixEpochMjd = 40587;
constexpr std::int64_t kSecondsPerDay = 86400;

// The MJD (day number) of a date of the proleptic Gregorian calendar.
std::int64_t mjd_of_date(std::int64_t year, int month, int day);

// Days in a month of the proleptic Gregorian calendar (month 1 to 12).
int days_in_month(std::int64_t year, int month);

// A UTC date and time of day.
struct UtcTime {
    int year, month, day;
    int hour, minute, second;
};

// The UTC date and time `seconds` whole seconds after MJD 0.
UtcTime utc_of_mjd_seconds(std::int64_t seconds);

// The MJD of a reading of the Unix clock, in seconds since the epoch.
double mjd_of_unix_seconds(double unix_seconds);

// Nanoseconds since the Unix epoch of the MJD printed as `text` ("61384.290591"),
// computed from its digits without rounding through a double: the six decimals
// h2mon prints give a multiple of 86.4 ms exactly; digits past the ninth
// decimal are dropped. False when `text` is not such a number (digits, at most
// one point, no sign) or lies before the epoch.
bool mjd_unix_ns(std::string_view text, std::int64_t* unix_ns);
