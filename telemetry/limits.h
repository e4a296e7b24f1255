// The limits of the maser's health channels, written once: each channel's
// normal band, its alarm limits and the smallest step worth reporting, in the
// channel's CSV unit. The analysis, the report page, the exported limit
// gauges and the alert rules all take them from one LimitTable.
//
// The table's text (contrib/h2mon/limits.conf, built into the programs as the
// defaults) has a line per channel:
//
//     # CHANNEL   NORMAL        ALARM          STEP
//     p15_V       14.7..15.3    14.25..15.75   0.15
//     Ion_uA      10..50        ..80           -
//     CCoarse     -             -              1
//
// A range is LOW..HIGH with either end left out for none; "-" is no range (or
// no step). An operator overrides lines per station (DIR/limits.conf) and per
// maser (DIR/NAME.limits): a line read later replaces the channel's line.
#pragma once

#include "telemetry/channels.h"

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

// A range of values; an end left open is infinite. An unset range holds every value.
struct LimitRange {
    double low = -HUGE_VAL;
    double high = HUGE_VAL;
    bool set = false;

    bool holds(double value) const { return value >= low && value <= high; }
    // Both ends given: the band has a width.
    bool closed() const { return set && std::isfinite(low) && std::isfinite(high); }
};

struct ChannelLimits {
    LimitRange normal; // where a healthy maser keeps the channel
    LimitRange alarm;  // beyond these, an alarm
    double step = 0;   // smallest step reported; 0: the channel is not watched for steps
    std::string from;  // "FILE:LINE" of the line that set them; empty: no line
};

class LimitTable {
public:
    // The limits of channel table row `row` (none for a row no line named).
    const ChannelLimits& of(int row) const { return rows_[static_cast<std::size_t>(row)]; }

    // Reads a table's text. Each good line replaces its channel's limits; each
    // bad line leaves them and adds "FILE:LINE: what is wrong" to `errors`.
    void read(std::string_view text, const std::string& file, std::vector<std::string>& errors);

    // Reads the file at `path` the same way. A file that does not exist is
    // no error (false); one that cannot be read is (an error, false).
    bool read_file(const std::string& path, std::vector<std::string>& errors);

    // The shipped table, as built in.
    static LimitTable defaults();

private:
    std::vector<ChannelLimits> rows_ = std::vector<ChannelLimits>(kChannelCount);
};

// The limits of maser `name`: the shipped table, then DIR/limits.conf, then
// DIR/NAME.limits, each where it exists; the later line wins.
LimitTable maser_limits(const std::string& dir, const std::string& name,
                        std::vector<std::string>& errors);

// The shipped table's text.
std::string_view default_limits_text();

// "14.7..15.3", "..80", "-": a range as the table writes it.
std::string range_text(const LimitRange& range);
