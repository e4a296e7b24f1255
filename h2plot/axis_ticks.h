// Where the axes of a plot get their ticks: round values a reader takes in at
// a glance, for a value axis and for a time axis in UTC.
#pragma once

#include "telemetry/time_text.h"

#include <string>
#include <vector>

// A value range with a small margin around the data, so that no extreme
// sits on the frame; a constant gets a range around it.
struct ValueRange {
    double lo;
    double hi;
};
ValueRange padded_range(double min, double max);

// A panel's value axis: the range it shows, linear or logarithmic.
struct ValueAxis {
    ValueRange range{0, 1};
    bool log = false;
};

struct ValueTicks {
    std::vector<double> values;
    // Short enough for the margin and long enough to tell neighbours apart:
    // fixed decimals, or a mantissa and a power of ten ("1.02e-6",
    // "4.29496725e9") for the very small and the very large.
    std::vector<std::string> labels;
};
// Multiples of 1, 2 or 5 times a power of ten, about `wanted` of them and at
// least three.
ValueTicks value_ticks(ValueRange range, int wanted);

// The ticks of `axis`: value_ticks() or log_ticks().
ValueTicks axis_ticks(const ValueAxis& axis);

// Ticks of a logarithmic axis over [range.lo, range.hi] (both > 0): the
// powers of ten, with 2 and 5 times them when there are fewer than three,
// and only every few of them over many decades: three to six ticks.
ValueTicks log_ticks(ValueRange range);

// A range wide enough for [min, max] (both > 0) on a logarithmic axis, with
// a small margin.
ValueRange padded_log_range(double min, double max);

struct TimeTick {
    MicroDay t;
    std::string utc; // the date, and the time of day when ticks are less than a day apart
    std::string mjd;
};
// At most `most` ticks on whole seconds, minutes, hours, days or months of UTC
// within [lo, hi], as many as fit.
std::vector<TimeTick> time_ticks(MicroDay lo, MicroDay hi, int most);
