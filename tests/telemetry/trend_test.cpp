// Robust trends and when they reach a limit.
#include "telemetry/trend.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::vector<TrendPoint> line_points(double slope, int n, double noise_amplitude = 0) {
    std::vector<TrendPoint> points;
    for (int i = 0; i < n; ++i) {
        const double t = 61000 + i * 0.25;
        // A deterministic wobble for noise: no two neighbours alike.
        points.push_back({t, 5 + slope * (t - 61000) + noise_amplitude * std::sin(i * 2.3)});
    }
    return points;
}

TEST(TheilSen, FollowsTheLineThroughSpikesThatALeastSquaresFitWouldFollow) {
    std::vector<TrendPoint> points = line_points(0.1, 28, 0.01);
    points[5].value += 50; // an hour of nonsense, twice
    points[20].value -= 30;
    std::vector<double> scratch;
    const TrendLine line = theil_sen(points, scratch);
    ASSERT_TRUE(line.valid);
    EXPECT_NEAR(line.slope, 0.1, 0.005);
    EXPECT_LT(line.slope_low, line.slope);
    EXPECT_GT(line.slope_high, line.slope);
    EXPECT_GT(line.slope_low, 0.09);
    EXPECT_LT(line.slope_high, 0.11);
    EXPECT_NEAR(line.value_at(points.back().mjd), 5 + 0.1 * 6.75, 0.02);
    // Noise with no trend: a range that holds 0.
    const TrendLine flat = theil_sen(line_points(0, 28, 0.5), scratch);
    EXPECT_LT(flat.slope_low, 0);
    EXPECT_GT(flat.slope_high, 0);
    EXPECT_FALSE(theil_sen({{61000, 1}}, scratch).valid);
}

TEST(Crossing, WhenALineReachesALimitWithTheRangeOfItsSlope) {
    TrendLine line;
    line.valid = true;
    line.at = 61000;
    line.value = 50;
    line.slope = 5;
    line.slope_low = 4;
    line.slope_high = 10;
    const Crossing up = linear_crossing(line, 80);
    ASSERT_TRUE(up.ahead);
    EXPECT_DOUBLE_EQ(up.mjd, 61006);
    EXPECT_DOUBLE_EQ(up.earliest, 61003);
    EXPECT_DOUBLE_EQ(up.latest, 61007.5);
    EXPECT_FALSE(linear_crossing(line, 20).ahead); // heading away
    EXPECT_FALSE(linear_crossing(line, 50).ahead); // there already

    line.slope_low = -1; // it may be heading away: maybe never
    const Crossing maybe = linear_crossing(line, 80);
    EXPECT_TRUE(maybe.ahead);
    EXPECT_TRUE(std::isinf(maybe.latest));

    // The logarithm of 10 growing by a factor of e a day reaches 10e at once plus a day.
    TrendLine growth;
    growth.valid = true;
    growth.at = 61000;
    growth.value = std::log(10.0);
    growth.slope = growth.slope_low = growth.slope_high = 1;
    EXPECT_NEAR(log_crossing(growth, 10 * std::exp(1.0)).mjd, 61001, 1e-9);
    EXPECT_FALSE(log_crossing(growth, 0).ahead);
}

} // namespace
