// The timestamp of CSV and JSON-like records: the current UTC time as a Modified
// Julian Date, days since 1858-11-17 00:00 UTC with the fraction of the day.
#pragma once

#include "h2mon/win32/win32.h"

#include <cstdint>

// The MJD of one clock reading, including the fraction of the day to the millisecond.
double mjd_from_systemtime(const SYSTEMTIME& time);

// Reads the UTC clock once and returns its MJD. When clock_copy is given, the
// reading itself is copied there as well.
double current_mjd(SYSTEMTIME* clock_copy = nullptr);
