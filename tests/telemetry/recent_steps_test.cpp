#include "telemetry/recent_steps.h"

#include <gtest/gtest.h>

namespace {

TEST(RecentSteps, TheMedianOfTheLatestStepsIgnoresOutliersAndStepsBack) {
    RecentSteps<5> steps;
    EXPECT_EQ(steps.median(), 0);
    // A lost record (a double step) and a late one do not move it; a step
    // back in time or none at all is not a step.
    for (std::int64_t step : {10, 20, 10, 0, -30, 11, 9}) {
        steps.note(step);
    }
    EXPECT_EQ(steps.count(), 5);
    EXPECT_EQ(steps.median(), 10);
    // Only the latest steps count: a new interval takes over once it holds
    // most of the window.
    for (int i = 0; i < 3; ++i) {
        steps.note(60);
    }
    EXPECT_EQ(steps.median(), 60);
}

} // namespace
