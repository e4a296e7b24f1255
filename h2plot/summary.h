// What a plot keeps of the values that fell into a stretch of time: their
// count, extremes and sum, and whether the data broke off there.
#pragma once

#include <algorithm>
#include <cstdint>

struct Summary {
    std::uint64_t count = 0;
    double min = 0;
    double max = 0;
    // The values are summed as their differences from the first one, so that
    // large codes that hardly change keep their precision over millions of
    // records, and a constant's mean is that constant exactly.
    double base = 0;
    double sum = 0;
    // A gap begins after the last value of this stretch.
    bool gap_after = false;

    void add(double value) {
        if (count == 0) {
            min = max = base = value;
        } else {
            min = std::min(min, value);
            max = std::max(max, value);
            sum += value - base;
        }
        ++count;
    }

    void merge(const Summary& other) {
        if (other.count > 0) {
            if (count == 0) {
                min = other.min;
                max = other.max;
                base = other.base;
            } else {
                min = std::min(min, other.min);
                max = std::max(max, other.max);
                sum += (other.base - base) * static_cast<double>(other.count);
            }
            sum += other.sum;
            count += other.count;
        }
        gap_after = gap_after || other.gap_after;
    }

    double mean() const { return count == 0 ? 0 : base + sum / static_cast<double>(count); }
};

// When the rows of a stretch of time came: the first and the last, how many,
// and the longest step between two of them with where it began. The longest
// step is known only while the rows came in time order.
struct RowTimes {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t longest = 0;    // the longest step between two rows
    std::int64_t longest_at = 0; // the time of the row before it
    std::uint64_t count = 0;
    bool ordered = true;

    void add(std::int64_t t) {
        if (count == 0) {
            first = last = t;
        } else if (t >= last) {
            note_step(last, t);
            last = t;
        } else {
            ordered = false;
            first = std::min(first, t);
        }
        ++count;
    }

    // Takes the times of the stretch that follows this one.
    void merge(const RowTimes& later) {
        if (later.count == 0) {
            return;
        }
        if (count == 0) {
            *this = later;
            return;
        }
        ordered = ordered && later.ordered && later.first >= last;
        if (ordered) {
            note_step(last, later.first);
            if (later.longest > longest) {
                longest = later.longest;
                longest_at = later.longest_at;
            }
        }
        first = std::min(first, later.first);
        last = std::max(last, later.last);
        count += later.count;
    }

private:
    void note_step(std::int64_t from, std::int64_t to) {
        if (to - from > longest) {
            longest = to - from;
            longest_at = from;
        }
    }
};
