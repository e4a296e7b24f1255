// Logs for h2export's tests: rows exactly as h2mon writes them, and waiting for
// what h2export writes.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace h2export_test {

// A log row (with its "\n") as h2mon prints it for a frame of bytes drawn from
// `seed`, stamped with `mjd` (as h2mon prints it, six decimals).
std::string h2mon_row(const std::string& mjd, unsigned seed);

// The MJD h2mon would print at `unix_seconds`.
std::string mjd_text(double unix_seconds);
// The MJD of the present moment plus `offset_seconds`.
std::string mjd_now(double offset_seconds = 0);

// The field of CSV channel `channel` in `row` (a row as h2mon_row makes it).
std::string row_field(const std::string& row, const std::string& channel);

void append_file(const std::string& path, const std::string& text);

// Calls `ready` until it is true or `timeout` has passed; returns its last answer.
bool eventually(const std::function<bool()>& ready,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The sample of `series` (a metric name with its labels, as printed) in a
// Prometheus text, or "" when it is absent.
std::string sample_of(const std::string& text, const std::string& series);

} // namespace h2export_test
