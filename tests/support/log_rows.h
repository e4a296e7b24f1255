// Rows of h2mon's logs for tests and benchmarks, made with the row writer
// h2mon prints with.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace h2test {

// Channels by their CSV names, with the fields to give them.
using ChannelFields = std::vector<std::pair<std::string, std::string>>;

// A row stamped `mjd` (as h2mon prints it, "61384.000100"), without its line
// end: every channel at a neutral value ("1.000", or zero digits for a code)
// but the ones named in `fields`.
std::string log_row(const std::string& mjd, const ChannelFields& fields = {});

// The same stamped `micro_days` microdays after MJD 0 (61384000100 is
// "61384.000100").
std::string log_row(long long micro_days, const ChannelFields& fields = {});

// A row with its line end, as h2mon prints it for a frame of bytes drawn
// from `seed`.
std::string random_row(const std::string& mjd, unsigned seed);

// The MJD h2mon prints at `unix_seconds`.
std::string mjd_text(double unix_seconds);

// The field of CSV channel `channel` in `row`.
std::string row_field(const std::string& row, const std::string& channel);

} // namespace h2test
