#include "h2plot/fine_bins.h"

#include <algorithm>

namespace {

// Division rounding toward minus infinity (as index_of's shift does).
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

FineBins::FineBins(int channels, int capacity)
    : channels_(channels), capacity_(std::max(capacity, 2)),
      cells_(static_cast<std::size_t>(capacity_) * channels),
      times_(static_cast<std::size_t>(capacity_)) {}

Summary* FineBins::add_row(MicroDay t) {
    if (empty_) {
        empty_ = false;
        origin_ = t;
        lowest_ = highest_ = first_ = 0;
    }
    std::int64_t index = index_of(t);
    if (index < first_ || index >= first_ + capacity_) {
        make_room(index);
        index = index_of(t);
    }
    lowest_ = std::min(lowest_, index);
    highest_ = std::max(highest_, index);
    times_[static_cast<std::size_t>(index - first_)].add(t);
    return &cells_[static_cast<std::size_t>((index - first_) * channels_)];
}

void FineBins::make_room(std::int64_t index) {
    std::int64_t low = std::min(lowest_, index);
    std::int64_t high = std::max(highest_, index);
    int shift = 0;
    while (high - low + 1 > capacity_) {
        low = floor_div(low, 2);
        high = floor_div(high, 2);
        ++shift;
    }
    // All the room on the side the data grows to, so that data that keeps
    // coming later (or earlier) moves the bins only when they merge.
    const std::int64_t first = index >= lowest_ ? low : high - capacity_ + 1;
    std::vector<Summary> cells(cells_.size());
    std::vector<RowTimes> times(times_.size());
    for (std::int64_t old = lowest_; old <= highest_; ++old) {
        const std::int64_t moved = floor_div(old, std::int64_t{1} << shift);
        times[static_cast<std::size_t>(moved - first)].merge(
            times_[static_cast<std::size_t>(old - first_)]);
        const Summary* from = &cells_[static_cast<std::size_t>((old - first_) * channels_)];
        Summary* to = &cells[static_cast<std::size_t>((moved - first) * channels_)];
        for (int c = 0; c < channels_; ++c) {
            to[c].merge(from[c]);
        }
    }
    cells_.swap(cells);
    times_.swap(times);
    shift_ += shift;
    first_ = first;
    lowest_ = floor_div(lowest_, std::int64_t{1} << shift);
    highest_ = floor_div(highest_, std::int64_t{1} << shift);
}

int FineBins::bin_column(std::int64_t index, const TimeColumns& axis) const {
    return axis.column_of(origin_ + index * bin_width() + (bin_width() - 1) / 2);
}

int FineBins::column_of(MicroDay t, const TimeColumns& axis) const {
    return bin_column(index_of(t), axis);
}

std::vector<Summary> FineBins::columns(int channel, const TimeColumns& axis) const {
    std::vector<Summary> out(static_cast<std::size_t>(std::max(axis.count, 0)));
    if (empty_ || out.empty()) {
        return out;
    }
    for (std::int64_t index = lowest_; index <= highest_; ++index) {
        if (cell(index, channel).count > 0) {
            out[static_cast<std::size_t>(bin_column(index, axis))].merge(cell(index, channel));
        }
    }
    return out;
}

std::vector<Summary> FineBins::samples(int channel) const {
    std::vector<Summary> out;
    for (std::int64_t index = lowest_; !empty_ && index <= highest_; ++index) {
        if (cell(index, channel).count > 0) {
            out.push_back(cell(index, channel));
        }
    }
    return out;
}

std::vector<RowTimes> FineBins::row_times() const {
    std::vector<RowTimes> out;
    if (!empty_) {
        for (std::int64_t index = lowest_; index <= highest_; ++index) {
            const RowTimes& times = times_[static_cast<std::size_t>(index - first_)];
            if (times.count > 0) {
                out.push_back(times);
            }
        }
    }
    return out;
}
