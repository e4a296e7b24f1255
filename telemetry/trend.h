// Robust trends: the Theil-Sen line through a channel's recent points (the
// median of the slopes between every two points, so that a few odd points
// move it little) with a 95 % range of its slope, and when such a line
// reaches a limit.
#pragma once

#include <vector>

struct TrendPoint {
    double mjd;
    double value;
};

struct TrendLine {
    bool valid = false;
    double slope = 0;     // per day
    double slope_low = 0; // the 95 % range of the slope (Kendall's rank bounds)
    double slope_high = 0;
    double at = 0;    // the time the line is anchored at (the last point's)
    double value = 0; // the line's value there

    double value_at(double mjd) const { return value + slope * (mjd - at); }
};

// The Theil-Sen line through `points` (at least two at different times).
// `scratch` holds the pairs' slopes, kept by the caller between calls.
TrendLine theil_sen(const std::vector<TrendPoint>& points, std::vector<double>& scratch);

// When a line reaches `limit`, with the range its slope's range gives.
struct Crossing {
    bool ahead = false; // the line heads for the limit and has not reached it
    double mjd = 0;     // when it gets there at its slope
    double earliest = 0;
    double latest = 0; // infinite when the slope's range includes heading away
};

// For a line fitted to the values themselves.
Crossing linear_crossing(const TrendLine& line, double limit);

// For a line fitted to their natural logarithm (values that grow by a factor
// per day); `limit` in the values' own unit, above 0.
Crossing log_crossing(const TrendLine& line, double limit);
