// Logs for h2export's tests: rows exactly as h2mon writes them, the series
// every output must show for them, and waiting for what h2export writes.
#pragma once

#include "tests/support/log_rows.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace h2export_test {

using h2test::mjd_text;
using h2test::random_row;
using h2test::row_field;

// The MJD of the present moment plus `offset_seconds`.
std::string mjd_now(double offset_seconds = 0);

void append_file(const std::string& path, const std::string& text);

// How logrotate turns a log into NAME.1: renaming it (h2mon then writes on
// into a new NAME, or into NAME.1 until it reopens its path), or copying it
// and cutting it to nothing.
enum class Rotation { kRename, kCopyTruncate };

// One rotation of `log` as logrotate makes it: NAME.1, NAME.2, ... (or their
// .gz) each shifted up one, and NAME becomes NAME.1. With `compress`, the file
// shifted to NAME.2 is compressed to NAME.2.gz and removed (delaycompress).
void rotate_log(const std::string& log, Rotation how, bool compress);

// Calls `ready` until it is true or `timeout` has passed; returns its last answer.
bool eventually(const std::function<bool()>& ready,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The sample of `series` (a metric name with its labels, as printed) in a
// Prometheus text, or "" when it is absent.
std::string sample_of(const std::string& text, const std::string& series);

// A channel series and the CSV channel it comes from: what the textfile, the
// backfill and the line protocol must agree on.
struct ChannelSeries {
    const char* metric;
    const char* label; // "rail=\"battery\"", or nullptr for none besides the maser
    const char* channel;
    double factor; // to base units; 0 for a code, its hexadecimal digits as a number
};

// Measurements of every kind of unit and label, and codes of every width.
extern const std::vector<ChannelSeries> kCheckedSeries;

// The series as a textfile names it: metric{maser="a",rail="battery"}.
std::string textfile_series(const ChannelSeries& series, const std::string& maser);

// The series as `promtool tsdb dump` names it:
// {__name__="metric", maser="a", rail="battery"}.
std::string dumped_series(const ChannelSeries& series, const std::string& maser);

// The value the series must have for `row`: the logged decimal times the
// factor, or the code's number.
double series_value(const ChannelSeries& series, const std::string& row);

} // namespace h2export_test
