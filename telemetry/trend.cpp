#include "telemetry/trend.h"

#include <algorithm>
#include <cmath>

namespace {

// The z of a two-sided 95 % range.
constexpr double kZ95 = 1.959964;

double median_of(std::vector<double>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    double m = *middle;
    if (values.size() % 2 == 0) {
        m = (m + *std::max_element(values.begin(), middle)) / 2;
    }
    return m;
}

} // namespace

TrendLine theil_sen(const std::vector<TrendPoint>& points, std::vector<double>& scratch) {
    TrendLine line;
    scratch.clear();
    for (std::size_t i = 0; i < points.size(); ++i) {
        for (std::size_t j = i + 1; j < points.size(); ++j) {
            const double dt = points[j].mjd - points[i].mjd;
            if (dt > 0) {
                scratch.push_back((points[j].value - points[i].value) / dt);
            }
        }
    }
    if (scratch.empty()) {
        return line;
    }
    const std::size_t pairs = scratch.size();
    // Kendall's bounds: the slopes ranked C/2 either side of the middle, C
    // from the variance of Kendall's statistic for n points.
    const double n = static_cast<double>(points.size());
    const double c = kZ95 * std::sqrt(n * (n - 1) * (2 * n + 5) / 18);
    const double last = static_cast<double>(pairs - 1);
    const auto low_rank = static_cast<std::size_t>(
        std::clamp(std::floor((static_cast<double>(pairs) - c) / 2), 0.0, last));
    const auto high_rank = static_cast<std::size_t>(
        std::clamp(std::ceil((static_cast<double>(pairs) + c) / 2), 0.0, last));
    line.slope = median_of(scratch);
    // median_of left the upper half above the middle, the lower half below.
    const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(pairs / 2);
    std::nth_element(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(low_rank),
                     middle);
    line.slope_low = scratch[low_rank];
    std::nth_element(middle, scratch.begin() + static_cast<std::ptrdiff_t>(high_rank),
                     scratch.end());
    line.slope_high = scratch[high_rank];

    line.at = points.back().mjd;
    scratch.clear();
    for (const TrendPoint& p : points) {
        scratch.push_back(p.value - line.slope * (p.mjd - line.at));
    }
    line.value = median_of(scratch);
    line.valid = true;
    return line;
}

namespace {

// When a line from `value` at `at` reaches `target`, in the same space.
Crossing crossing_of(const TrendLine& line, double target) {
    Crossing c;
    const double distance = target - line.value;
    // Heading for the target, at the fitted slope and at the range's gentler end.
    if (!line.valid || distance == 0 || line.slope * distance <= 0) {
        return c;
    }
    const double steep = distance > 0 ? line.slope_high : line.slope_low;
    const double gentle = distance > 0 ? line.slope_low : line.slope_high;
    c.ahead = true;
    c.mjd = line.at + distance / line.slope;
    c.earliest = line.at + distance / steep;
    c.latest = gentle * distance > 0 ? line.at + distance / gentle : HUGE_VAL;
    return c;
}

} // namespace

Crossing linear_crossing(const TrendLine& line, double limit) {
    return crossing_of(line, limit);
}

Crossing log_crossing(const TrendLine& line, double limit) {
    return limit > 0 ? crossing_of(line, std::log(limit)) : Crossing{};
}
