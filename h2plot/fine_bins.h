// Summaries of a few channels' values over time, in bins much finer than a
// pixel column, for a time range that is not known until the last row has
// been read. The bins start one microday wide; whenever the data outgrows
// them, neighbours are merged pairwise and the width doubles. So the memory is
// fixed by the number of bins, whatever the number of rows, and each bin's
// summary is exact for the records it holds.
#pragma once

#include "h2plot/summary.h"
#include "h2plot/time_columns.h"

#include <vector>

class FineBins {
public:
    // `capacity` bins for each of `channels` channels.
    FineBins(int channels, int capacity);

    // Notes a row at time `t` and returns the summaries of every channel for
    // its bin, one per channel, valid until the next call.
    Summary* add_row(MicroDay t);

    // The row times of every bin that holds a row, oldest first.
    std::vector<RowTimes> row_times() const;

    // The summaries of one channel in the columns of `axis`. A bin wider than
    // a microday goes wholly to the column of its middle.
    std::vector<Summary> columns(int channel, const TimeColumns& axis) const;

    // The column of `axis` that the bin of time `t` goes to.
    int column_of(MicroDay t, const TimeColumns& axis) const;

    // The summaries of one channel in every bin that holds a value of it,
    // oldest first: its values over time at the finest grain kept.
    std::vector<Summary> samples(int channel) const;

    // The width of a bin, in microdays.
    MicroDay bin_width() const { return MicroDay{1} << shift_; }

private:
    std::int64_t index_of(MicroDay t) const { return (t - origin_) >> shift_; }
    // The column the bin `index` goes to: the one of its middle.
    int bin_column(std::int64_t index, const TimeColumns& axis) const;
    const Summary& cell(std::int64_t index, int channel) const {
        return cells_[static_cast<std::size_t>((index - first_) * channels_ + channel)];
    }
    // Moves the held bins so that [first, first + capacity) holds them and `index`.
    void make_room(std::int64_t index);

    int channels_;
    std::int64_t capacity_;
    bool empty_ = true;
    MicroDay origin_ = 0;
    int shift_ = 0;           // bins are 2^shift_ microdays wide
    std::int64_t first_ = 0;  // index of the bin in cells_[0]
    std::int64_t lowest_ = 0; // lowest and highest index of a bin with data
    std::int64_t highest_ = 0;
    std::vector<Summary> cells_;  // capacity_ bins of channels_ summaries
    std::vector<RowTimes> times_; // capacity_ bins
};
