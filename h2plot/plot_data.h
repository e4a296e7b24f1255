// Everything a plot shows, gathered row by row in one pass over the logs: for
// each chosen channel the fine bins of its values, its overall extremes and
// mean, and its gaps. Memory depends on the channels and the bins, never on
// the number of rows.
#pragma once

#include "h2plot/axis_ticks.h"
#include "h2plot/fine_bins.h"
#include "h2plot/gap_finder.h"
#include "h2plot/summary.h"
#include "telemetry/log_row.h"

#include <optional>
#include <vector>

// The gaps of the log in the range: how many, how long in all, the longest.
struct GapStats {
    std::uint64_t count = 0;
    MicroDay total = 0; // their summed length
    MicroDay longest = 0;
};

// One channel as a plot panel shows it.
struct ChannelPlot {
    int row = 0; // row of the channel table
    ValueAxis axis;
    Summary overall; // every value in the range
    double last = 0; // the latest value in the range
    // From the mean of its earliest values to that of its latest, each over
    // a column's share of the time the values span.
    double change = 0;
    // A code's changes: records whose value differs from the one before it in time.
    std::uint64_t changes = 0;
    std::vector<Summary> columns; // one per pixel column, oldest first
};

struct PlotModel {
    TimeColumns time;       // the time axis and its pixel columns
    LogIntervals intervals; // the log's record interval, as estimated, and its gaps
    GapStats gaps;
    std::vector<ChannelPlot> channels;
};

class PlotData {
public:
    // `rows`: the channel table rows to plot. Rows outside [from, to] (each
    // given or open) are left out.
    PlotData(std::vector<int> rows, std::optional<MicroDay> from, std::optional<MicroDay> to,
             int fine_bins);

    // Takes one row of a log; false when a chosen channel's field is no number
    // (that value is left out, the others are taken).
    bool add(const LogRow& row);

    // Whether any row fell in the range.
    bool empty() const { return !first_; }

    // Rows that fell in the range.
    std::uint64_t rows() const { return rows_; }

    // The latest time of a row in the range.
    std::optional<MicroDay> latest() const {
        return first_ ? std::optional<MicroDay>(latest_) : std::nullopt;
    }

    // The latest row before the range and the earliest after it.
    std::optional<MicroDay> last_before() const { return last_before_; }
    std::optional<MicroDay> first_after() const { return first_after_; }

    // Rows that came earlier than the row before them, and the first of them.
    std::uint64_t back_in_time() const { return back_in_time_; }
    MicroDay first_back_in_time() const { return first_back_; }

    // The channels in the order given: their rows of the channel table, every
    // value of each, and each one's values over time (fine_bins' samples()).
    std::size_t channels() const { return channels_.size(); }
    int row(std::size_t channel) const { return channels_[channel].row; }
    const Summary& overall(std::size_t channel) const { return channels_[channel].overall; }
    // The channel's fields in the range that were no number.
    std::uint64_t unusable(std::size_t channel) const { return channels_[channel].unusable; }
    std::vector<Summary> samples(std::size_t channel) const {
        return bins_.samples(static_cast<int>(channel));
    }

    // The picture's data for `columns` pixel columns, with the value axes
    // `axes` (one per channel). The time axis is the range given, or else
    // the span of the data; one of no length (one record) is widened to an
    // hour around it, so that the record is drawn in its middle.
    PlotModel model(int columns, const std::vector<ValueAxis>& axes) const;

private:
    struct Channel {
        int row;
        Summary overall;
        std::optional<MicroDay> last; // latest time of a value
        double last_value = 0;
        std::uint64_t unusable = 0;
        bool code = false; // counts its changes
        std::uint64_t changes = 0;
    };

    // The change of a channel whose values span `values`: ChannelPlot::change.
    double change(int channel, const TimeColumns& values) const;

    std::optional<MicroDay> from_;
    std::optional<MicroDay> to_;
    std::vector<Channel> channels_;
    FineBins bins_;
    std::optional<MicroDay> first_; // earliest and latest time of a row in the range
    MicroDay latest_ = 0;
    std::uint64_t rows_ = 0;
    std::optional<MicroDay> last_before_;
    std::optional<MicroDay> first_after_;
    std::optional<MicroDay> previous_; // time of the row before
    std::uint64_t back_in_time_ = 0;
    MicroDay first_back_ = 0;
};
