// Summaries of a few channels' values over time, in bins much finer than a
// pixel column, for a time range that is not known until the last row has
// been read. The bins start one microday wide; whenever the data outgrows
// them, neighbours are merged pairwise and the width doubles. So the memory is
// fixed by the number of bins, whatever the number of rows, and each bin's
// summary is exact for the records it holds.
#pragma once

#include "h2plot/summary.h"
#include "telemetry/time_text.h"

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

    // The summaries of `columns` columns that divide [lo, hi] evenly, for one
    // channel. Column c covers the times t with (t - lo) * columns / (hi - lo)
    // == c, and the last column also takes hi. A bin wider than a microday
    // goes wholly to the column of its middle.
    std::vector<Summary> columns(int channel, MicroDay lo, MicroDay hi, int columns) const;

    // The column (of `columns` over [lo, hi], as columns() divides them) that
    // the bin of time `t` goes to.
    int column_of(MicroDay t, MicroDay lo, MicroDay hi, int columns) const;

    // The width of a bin, in microdays.
    MicroDay bin_width() const { return MicroDay{1} << shift_; }

private:
    std::int64_t index_of(MicroDay t) const { return (t - origin_) >> shift_; }
    // The column the bin `index` goes to: the one of its middle.
    int bin_column(std::int64_t index, MicroDay lo, MicroDay span, int columns) const;
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
