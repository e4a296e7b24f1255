// How often a log's records come, judged from the records themselves (h2mon's
// interval is whatever the operator chose): the latest steps from one record
// to the next, and their median, which a lost record or a late one does not
// move. h2export takes its stale time from it; h2plot, which sees a whole
// log at once, finds gaps with h2plot/interval_estimate.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

template <int Steps> class RecentSteps {
public:
    // Takes the step from one record to the next, in any unit; only steps
    // forward (> 0) are taken.
    void note(std::int64_t step) {
        if (step <= 0) {
            return;
        }
        steps_[static_cast<std::size_t>(next_)] = step;
        next_ = (next_ + 1) % Steps;
        count_ = std::min(count_ + 1, Steps);
    }

    // Steps held, up to Steps.
    int count() const { return count_; }

    // The median of the steps held; 0 before the first.
    std::int64_t median() const {
        if (count_ == 0) {
            return 0;
        }
        std::array<std::int64_t, Steps> sorted = steps_;
        const auto middle = sorted.begin() + count_ / 2;
        std::nth_element(sorted.begin(), middle, sorted.begin() + count_);
        return *middle;
    }

private:
    std::array<std::int64_t, Steps> steps_{};
    int count_ = 0;
    int next_ = 0; // where the next step goes
};
