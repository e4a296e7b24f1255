// Times as people write and read them, for the companions and the simulator:
// a count of microdays since MJD 0, the resolution at which h2mon stamps its
// records (six decimals of a Modified Julian Date), so that times are whole
// numbers and every computation on them is exact and the same on every build;
// read from and written as UTC dates and times.
#pragma once

#include "telemetry/mjd_time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using MicroDay = std::int64_t;

constexpr MicroDay kMicroDaysPerDay = 1000000;

// The MJD `mjd` rounded to the nearest microday.
MicroDay micro_days(double mjd);

// A time given on the command line: a Modified Julian Date ("61384.5"), an
// ISO 8601 UTC date ("2026-12-10", that day's midnight) or date-time
// ("2026-12-10T13:45", "2026-12-10T13:45:30.5Z"; a space may stand for the
// "T"). Empty on anything else.
std::optional<MicroDay> parse_time(std::string_view text);

// A duration written as a whole count and a unit: "10s", "5min", "12h",
// "28d", "2w". Empty on anything else, and on a count of 0.
std::optional<double> parse_duration_seconds(std::string_view text);

// The UTC date and time of `t`, to the nearest second.
UtcTime utc_time(MicroDay t);

// The UTC day of the week of `t`, to the nearest second: "Monday" to "Sunday".
const char* weekday_name(MicroDay t);

// "2026-12-10", and with `clock` digits of the time of day after a space:
// 2 gives "2026-12-10 13", 4 "2026-12-10 13:45", 6 "2026-12-10 13:45:30".
std::string utc_text(MicroDay t, int clock_digits);
