// The interval at which a log's records come, judged from the data itself
// (h2mon's interval is whatever the operator chose), and from it how long a
// silence has to be to count as a gap.
#pragma once

#include "h2plot/time_text.h"
#include "telemetry/recent_steps.h"

class IntervalEstimate {
public:
    // A silence longer than this many intervals is a gap: a record or two lost
    // to a noisy line or a restart is not.
    static constexpr int kGapIntervals = 5;

    // Takes the step from one record to the next (> 0).
    void note(MicroDay step);

    // The median of the latest steps; 0 before the first.
    MicroDay interval() const { return median_; }

    // Whether `silence` (the time between two records of a channel) is a gap.
    // The first step sets the interval, so it is never a gap itself.
    bool is_gap(MicroDay silence) const { return median_ > 0 && silence > kGapIntervals * median_; }

private:
    static constexpr int kSteps = 31;
    RecentSteps<kSteps> steps_;
    int fresh_ = 0; // steps taken since the median was worked out
    MicroDay median_ = 0;
};
