// The interval at which a maser's records come, judged from the records
// themselves (h2mon's interval is whatever the operator chose and may change
// while it runs), and from it when a silence is a gap. Times are in any one
// unit (nanoseconds, microdays), as whole numbers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// A silence longer than this many intervals is a gap: a record or two lost to
// a noisy line or a restart is not.
constexpr int kGapIntervals = 5;

// Whether `silence` is a gap between records whose usual steps are `before`
// and `after` it (0: not known). The longer of the two counts, so that a
// change of interval (1 s to 10 s, 10 s to 1 min) is no gap.
inline bool is_gap(std::int64_t silence, std::int64_t before, std::int64_t after) {
    const std::int64_t usual = std::max(before, after);
    return usual > 0 && silence > kGapIntervals * usual;
}

// The usual step among `count` records in time order from `first` to `last`
// whose longest step is `longest`: the mean of the other steps, so that one
// silence among them does not count. 0 with fewer than two records.
std::int64_t usual_step(std::int64_t first, std::int64_t last, std::uint64_t count,
                        std::int64_t longest);

// The median of the latest `Steps` steps between records, for a reader that
// follows a log as it grows.
template <int Steps> class RecentSteps {
public:
    // Takes the time of the next record; a time that is no later is no step.
    void note_time(std::int64_t t) {
        if (any_ && t > last_) {
            steps_[static_cast<std::size_t>(next_)] = t - last_;
            next_ = (next_ + 1) % Steps;
            count_ = std::min(count_ + 1, Steps);
        }
        any_ = true;
        last_ = t;
    }

    // 0 before the first step.
    std::int64_t median() const {
        if (count_ == 0) {
            return 0;
        }
        std::array<std::int64_t, Steps> sorted = steps_;
        std::nth_element(sorted.begin(), sorted.begin() + count_ / 2, sorted.begin() + count_);
        return sorted[static_cast<std::size_t>(count_ / 2)];
    }

private:
    std::array<std::int64_t, Steps> steps_{};
    int count_ = 0;
    int next_ = 0;
    bool any_ = false;
    std::int64_t last_ = 0;
};
