#include "h2plot/value_axis.h"

#include "telemetry/channels.h"

#include <algorithm>

namespace {

// A logarithmic axis by itself from this many decades of the ion pump current.
constexpr double kLogByNatureSpan = 100;

// The value at `share` (0 to 1) of the sorted `values`.
double share_of(std::vector<double>& values, double share) {
    const auto at = values.begin() +
                    static_cast<std::ptrdiff_t>(share * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

bool contains(const std::vector<int>& rows, int row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

} // namespace

PanelScale scale_asked(int row, const Summary& overall, const PlotOptions& options) {
    static const int kLogByNature = channel_row_named("Ion_uA");
    PanelScale scale;
    scale.log = contains(options.log_rows, row) ||
                (row == kLogByNature && overall.count > 0 && overall.min > 0 &&
                 overall.max >= kLogByNatureSpan * overall.min);
    for (const RangeChoice& range : options.ranges) {
        if (range.row == row) {
            scale.robust = range.robust;
            scale.lo = range.robust ? std::nullopt : std::optional(range.lo);
            scale.hi = range.robust ? std::nullopt : std::optional(range.hi);
        }
    }
    // A fixed range down to 0 or below has no place on a logarithmic axis
    // (the command line refuses it with --log).
    scale.log = scale.log && (!scale.lo || *scale.lo > 0);
    return scale;
}

ValueAxis value_axis(const PanelScale& scale, const Summary& overall,
                     std::vector<Summary> samples) {
    const bool log = scale.log && overall.count > 0 && overall.max > 0;
    double min = overall.min;
    double max = overall.max;
    std::vector<double> lows, highs;
    for (const Summary& sample : samples) {
        // On a logarithmic axis a stretch reaching 0 or below counts from its
        // highest value; one wholly there is drawn at the frame.
        if (sample.count > 0 && (!log || sample.max > 0)) {
            lows.push_back(log && sample.min <= 0 ? sample.max : sample.min);
            highs.push_back(sample.max);
        }
    }
    if (scale.robust && !lows.empty()) {
        min = share_of(lows, 0.005);
        max = share_of(highs, 0.995);
    } else if (log) {
        min = lows.empty() ? max : *std::min_element(lows.begin(), lows.end());
    }
    if (scale.lo && scale.hi) {
        return {{*scale.lo, *scale.hi}, log};
    }
    ValueRange range = log ? padded_log_range(min, max) : padded_range(min, max);
    range.lo = scale.lo.value_or(range.lo);
    range.hi = scale.hi.value_or(range.hi);
    return {range, log};
}
