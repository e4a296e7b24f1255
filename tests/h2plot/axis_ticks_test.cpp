#include "h2plot/axis_ticks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

// Every value axis has at least three labelled ticks, each label distinct and
// short, in a form that keeps the digits that matter.
TEST(ValueTicks, AtLeastThreeDistinctCompactLabels) {
    const struct {
        double min, max;
        const char* a_label; // one of the labels
    } cases[] = {
        {9.961, 10.034, "10.00"},
        {1e-6, 1e-6, "1.00e-6"}, // a constant, on a range of its own size
        {1.2e-6, 1.9e-6, "1.6e-6"},
        {4294967000, 4294967295, "4.2949672e9"},
        {0, 0, "0.0"},
        {-0.6, -0.4, "-0.5"},
    };
    for (const auto& c : cases) {
        const ValueTicks ticks = value_ticks(padded_range(c.min, c.max), 4);
        ASSERT_GE(ticks.values.size(), 3u) << c.min;
        ASSERT_EQ(ticks.labels.size(), ticks.values.size());
        const std::set<std::string> distinct(ticks.labels.begin(), ticks.labels.end());
        EXPECT_EQ(distinct.size(), ticks.labels.size()) << c.min;
        EXPECT_TRUE(distinct.count(c.a_label))
            << c.a_label << " not among " << ticks.labels[0] << " ... " << ticks.labels.back();
        for (const std::string& label : ticks.labels) {
            EXPECT_LE(label.size(), 12u) << label;
        }
    }
}

// A logarithmic axis over any number of decades has a few readable labels,
// however many powers of ten it spans.
TEST(LogTicks, AFewLabelsOverAnyNumberOfDecades) {
    const struct {
        double lo, hi;
    } ranges[] = {{0.5, 4}, {0.05, 50}, {1e-3, 1e14}, {1e-300, 1e300}};
    for (const auto& r : ranges) {
        const ValueTicks ticks = log_ticks({r.lo, r.hi});
        ASSERT_GE(ticks.values.size(), 3u) << r.lo;
        // A panel 120 pixels high keeps labels of 12 a line apart.
        EXPECT_LE(ticks.values.size(), 6u) << r.lo << " to " << r.hi;
        for (std::size_t i = 0; i < ticks.values.size(); ++i) {
            EXPECT_GE(ticks.values[i], r.lo);
            EXPECT_LE(ticks.values[i], r.hi);
            EXPECT_TRUE(i == 0 || ticks.values[i] > ticks.values[i - 1]) << ticks.labels[i];
        }
    }
}

// An MJD label is exact for the tick it marks.
TEST(TimeTicks, MjdLabelsAreExact) {
    const MicroDay day = 60676000000;
    const std::vector<TimeTick> ticks = time_ticks(day, day + 1000000, 4);
    ASSERT_FALSE(ticks.empty());
    for (const TimeTick& tick : ticks) {
        EXPECT_EQ(std::llround(std::stod(tick.mjd) * kMicroDaysPerDay), tick.t) << tick.mjd;
    }
}

} // namespace
