// h2export's parts that the program's runs show only in part: the default
// stale time, and a stop that ends a wait for changes.
#include "h2export/change_watch.h"
#include "h2export/maser_status.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(StaleRule, ThreeUsualIntervalsAtLeastTheFloorOrAsGiven) {
    using std::chrono::seconds;
    const auto after = [](std::vector<double> times, std::optional<seconds> fixed = {}) {
        StaleRule rule(fixed);
        for (double t : times) {
            rule.record_time(static_cast<std::int64_t>(t * 1e9));
        }
        return std::chrono::duration<double>(rule.stale_after()).count();
    };
    EXPECT_EQ(after({}), 30);
    EXPECT_EQ(after({100, 101, 102}), 30);
    EXPECT_NEAR(after({100, 110.3, 120.6, 130.9}), 30.9, 1e-6);
    // One long gap (h2mon restarted) does not move the median.
    EXPECT_NEAR(after({0, 60, 3660, 3720, 3780}), 180, 1e-6);
    EXPECT_EQ(after({100, 110.3, 120.6}, seconds(2)), 2);
}

#ifndef _WIN32
TEST(ChangeWatch, AStopEndsAWaitWithoutATimeLimitAtOnce) {
    const StopSignals stops;
    ChangeWatch watch(stops);
    ASSERT_TRUE(watch.watch(::testing::TempDir() + "log.csv"));
    ASSERT_EQ(std::raise(SIGTERM), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(watch.wait(std::nullopt));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(stops.requested());
}
#endif

} // namespace
