// Everything a plot shows, gathered row by row in one pass over the logs: for
// each chosen channel the fine bins of its values, its overall extremes and
// mean, and its gaps. Memory depends on the channels and the bins, never on
// the number of rows.
#pragma once

#include "h2plot/fine_bins.h"
#include "h2plot/interval_estimate.h"
#include "h2plot/summary.h"
#include "telemetry/log_row.h"

#include <optional>
#include <vector>

// The gaps of one channel: silences longer than a few of the log's intervals.
struct GapStats {
    std::uint64_t count = 0;
    MicroDay total = 0; // their summed length
    MicroDay longest = 0;
};

// One channel as a plot panel shows it.
struct ChannelPlot {
    int row = 0;     // row of the channel table
    Summary overall; // every value in the range
    GapStats gaps;
    std::vector<Summary> columns; // one per pixel column, oldest first
};

struct PlotModel {
    MicroDay lo = 0; // the time axis
    MicroDay hi = 0;
    MicroDay interval = 0; // the log's record interval, as estimated
    std::vector<ChannelPlot> channels;
};

class PlotData {
public:
    // `rows`: the channel table rows to plot. Rows outside [from, to] (each
    // given or open) are left out.
    PlotData(std::vector<int> rows, std::optional<MicroDay> from, std::optional<MicroDay> to,
             int fine_bins);

    // Takes one row of a log; false when a chosen channel's field is no number.
    bool add(const LogRow& row);

    // Whether any row fell in the range.
    bool empty() const { return !first_; }

    // The picture's data for `columns` pixel columns. The time axis is the range
    // given, or else the span of the data.
    PlotModel model(int columns) const;

private:
    struct Channel {
        int row;
        Summary overall;
        GapStats gaps;
        std::optional<MicroDay> last; // latest time of a value
    };

    // Counts the gap before `t`, if there is one, and marks it in the bins.
    void note_silence(Channel& channel, int index, MicroDay t);

    std::optional<MicroDay> from_;
    std::optional<MicroDay> to_;
    std::vector<Channel> channels_;
    FineBins bins_;
    IntervalEstimate interval_;
    std::optional<MicroDay> first_; // earliest and latest time of a row in the range
    MicroDay latest_ = 0;
};
