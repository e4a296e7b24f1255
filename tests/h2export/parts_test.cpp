// h2export's rules that the program's runs show only in part: the time of a
// row from its MJD digits and the default stale time.
#include "h2export/maser_status.h"
#include "h2export/mjd_time.h"

#include <gtest/gtest.h>

namespace {

TEST(MjdTime, NanosecondsFromTheDigitsExactly) {
    const struct {
        const char* text;
        bool ok;
        std::int64_t ns;
    } cases[] = {
        {"40587", true, 0},
        {"40587.000001", true, 86400000},
        {"51544.500000", true, 946728000000000000},
        {"61384.290591", true, 1796885907062400000},
        {"61384.2905911239", true, 1796885907073027200}, // past nine decimals: dropped
        {"40586.999999", false, 0},
        {"", false, 0},
        {".5", false, 0},
        {"-40587", false, 0},
        {"4e4", false, 0},
        {"61384.29x", false, 0},
        {"99999999", false, 0},
    };
    for (const auto& c : cases) {
        std::int64_t ns = 0;
        EXPECT_EQ(mjd_unix_ns(c.text, &ns), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(ns, c.ns) << c.text;
        }
    }
}

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

} // namespace
