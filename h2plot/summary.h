// What a plot keeps of the values that fell into a stretch of time: their
// count, extremes and sum, and whether the data broke off there.
#pragma once

#include <algorithm>
#include <cstdint>

struct Summary {
    std::uint64_t count = 0;
    double min = 0;
    double max = 0;
    double sum = 0;
    // A gap begins after the last value of this stretch.
    bool gap_after = false;

    void add(double value) {
        min = count == 0 ? value : std::min(min, value);
        max = count == 0 ? value : std::max(max, value);
        sum += value;
        ++count;
    }

    void merge(const Summary& other) {
        if (other.count > 0) {
            min = count == 0 ? other.min : std::min(min, other.min);
            max = count == 0 ? other.max : std::max(max, other.max);
            sum += other.sum;
            count += other.count;
        }
        gap_after = gap_after || other.gap_after;
    }

    double mean() const { return count == 0 ? 0 : sum / static_cast<double>(count); }
};
