// The time of a log row. h2mon stamps each row with the UTC time as a Modified
// Julian Date printed with six decimals: steps of a millionth of a day, 86.4 ms.
#pragma once

#include "telemetry/log_row.h"

#include <cstdint>
#include <string_view>

// Nanoseconds since the Unix epoch of the MJD printed as `text` ("61384.290591"),
// computed from its digits without rounding through a double: the six decimals
// h2mon prints give a multiple of 86.4 ms exactly; digits past the ninth
// decimal are dropped. False when `text` is not such a number (digits, at most
// one point, no sign) or lies before the epoch.
bool mjd_unix_ns(std::string_view text, std::int64_t* unix_ns);
