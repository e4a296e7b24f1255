#include "h2plot/interval_estimate.h"

#include <algorithm>

void IntervalEstimate::note(MicroDay step) {
    steps_[static_cast<std::size_t>(next_)] = step;
    next_ = (next_ + 1) % kSteps;
    count_ = std::min(count_ + 1, kSteps);
    // The median moves slowly once the window is full: working it out once a
    // window keeps the cost per record small.
    if (count_ < kSteps || ++fresh_ >= kSteps) {
        fresh_ = 0;
        std::array<MicroDay, kSteps> sorted = steps_;
        const auto middle = sorted.begin() + count_ / 2;
        std::nth_element(sorted.begin(), middle, sorted.begin() + count_);
        median_ = *middle;
    }
}
