// The Prometheus metrics h2export makes of a log row: which channel becomes
// which metric, with which label, in which base unit.
#pragma once

#include "telemetry/log_row.h"

#include <array>
#include <string>

// One metric family: every series of one name.
struct MetricFamily {
    const char* name;
    const char* help;
};

// How a channel's field becomes a sample of a family.
struct ChannelMetric {
    const char* channel;    // the CSV channel name
    int family;             // index into kMetricFamilies
    const char* label_name; // the label telling channels of one family apart, or null
    const char* label_value;
    int decimal_exponent; // the printed decimal times 10^exponent (kV, uA to base units)
    double factor;        // then times this (atm to pascals); 1 otherwise
};

constexpr int kMetricFamilyCount = 19;
constexpr int kChannelMetricCount = 36;

extern const MetricFamily kMetricFamilies[kMetricFamilyCount];
extern const ChannelMetric kChannelMetrics[kChannelMetricCount];

// The channel metric's row in the channel table.
int channel_metric_row(int metric);

// True for the FLL codes, whose values are whole numbers.
bool channel_metric_is_code(int metric);

// Every channel metric's value of one row, in base units.
using MetricValues = std::array<double, kChannelMetricCount>;

// Fills `values` from `row` (parsed as a kRow). False when a field the
// metrics need is not a number of the form h2mon prints.
bool metric_values(const LogRow& row, MetricValues* values);

// Appends `value` as Prometheus prints a sample value: the shortest text that
// reads back as the same double; codes as whole numbers.
void append_sample_value(std::string& out, double value, bool code);

// Appends the label set of a channel metric's series for `maser`: {maser="a",rail="battery"}.
void append_labels(std::string& out, const std::string& maser, const ChannelMetric& metric);
