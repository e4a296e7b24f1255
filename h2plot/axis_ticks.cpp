#include "h2plot/axis_ticks.h"

#include "h2plot/number_text.h"

#include <cmath>

namespace {

constexpr double kMargin = 0.05;
constexpr double kMicroDaysPerSecond = kMicroDaysPerDay / 86400.0;

// Tick spacings below a month, in seconds.
constexpr std::int64_t kSecondSteps[] = {1,     2,     5,      10,     15,     30,     60,    120,
                                         300,   600,   900,    1800,   3600,   7200,   10800, 21600,
                                         43200, 86400, 172800, 432000, 604800, 1209600};
// Longer spacings, in months.
constexpr int kMonthSteps[] = {1, 2, 3, 6, 12, 24, 60, 120, 600, 1200};

MicroDay from_seconds(std::int64_t seconds) {
    return std::llround(static_cast<double>(seconds) * kMicroDaysPerSecond);
}

TimeTick make_tick(MicroDay t, std::int64_t step_seconds) {
    const int clock_digits = step_seconds < 60 ? 6 : step_seconds < 86400 ? 4 : 0;
    const double step_days = static_cast<double>(step_seconds) / 86400.0;
    const int decimals =
        step_days >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step_days) - 1e-9));
    return {t, utc_text(t, clock_digits),
            number_text(static_cast<double>(t) / kMicroDaysPerDay, decimals)};
}

std::vector<TimeTick> second_ticks(MicroDay lo, MicroDay hi, std::int64_t step) {
    std::vector<TimeTick> ticks;
    // MJD 0 began at midnight: multiples of the step from it fall on round times.
    const std::int64_t lo_seconds =
        static_cast<std::int64_t>(std::ceil(static_cast<double>(lo) / kMicroDaysPerSecond - 1e-6));
    for (std::int64_t s = (lo_seconds + step - 1) / step * step;; s += step) {
        const MicroDay t = from_seconds(s);
        if (t > hi) {
            break;
        }
        if (t >= lo) {
            ticks.push_back(make_tick(t, step));
        }
    }
    return ticks;
}

std::vector<TimeTick> month_ticks(MicroDay lo, MicroDay hi, int step) {
    std::vector<TimeTick> ticks;
    const UtcTime start = utc_time(lo);
    // Months counted from January of the year 0, so that steps fall on round months.
    int month = (start.year * 12 + start.month - 1 + step - 1) / step * step;
    for (;; month += step) {
        const MicroDay t = mjd_of_date(month / 12, month % 12 + 1, 1) * kMicroDaysPerDay;
        if (t > hi) {
            break;
        }
        if (t >= lo) {
            ticks.push_back(make_tick(t, 86400));
        }
    }
    return ticks;
}

} // namespace

ValueRange padded_range(double min, double max) {
    const double margin =
        max > min ? (max - min) * kMargin : std::max(std::fabs(min) * kMargin, 0.5);
    return {min - margin, max + margin};
}

ValueTicks value_ticks(ValueRange range, int wanted) {
    const double raw = (range.hi - range.lo) / std::max(wanted, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power * 10;
    for (double factor : {1.0, 2.0, 5.0}) {
        if (power * factor >= raw) {
            step = power * factor;
            break;
        }
    }
    ValueTicks ticks{{}, std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)))};
    for (double k = std::ceil(range.lo / step); k * step <= range.hi; ++k) {
        ticks.values.push_back(k * step);
    }
    return ticks;
}

std::vector<TimeTick> time_ticks(MicroDay lo, MicroDay hi, int most) {
    const double span_seconds = static_cast<double>(hi - lo) / kMicroDaysPerSecond;
    most = std::max(most, 1);
    for (std::int64_t step : kSecondSteps) {
        if (span_seconds / static_cast<double>(step) <= most) {
            return second_ticks(lo, hi, step);
        }
    }
    for (int step : kMonthSteps) {
        if (span_seconds / (step * 30.44 * 86400) <= most) {
            return month_ticks(lo, hi, step);
        }
    }
    return {};
}
