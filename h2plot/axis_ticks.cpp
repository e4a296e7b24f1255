#include "h2plot/axis_ticks.h"

#include "h2plot/number_text.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMargin = 0.05;
constexpr int kValueTicks = 4; // about as many on a linear axis
// At most as many on a logarithmic axis: a panel 120 pixels high keeps their
// labels two lines apart.
constexpr std::size_t kMostLogTicks = 6;
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
    int decimals = step_days >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step_days) - 1e-9));
    // Enough decimals that the MJD is exact for the tick (06:00 is .25, not
    // .2), up to the microday.
    int exact = 6;
    for (MicroDay m = t; exact > 0 && m % 10 == 0; m /= 10) {
        --exact;
    }
    decimals = std::max(decimals, exact);
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
    // A constant gets a range of its own size, so that 1e-6 is not drawn on 0.
    const double margin = max > min  ? (max - min) * kMargin
                          : min != 0 ? std::fabs(min) * kMargin
                                     : 0.5;
    return {min - margin, max + margin};
}

ValueTicks value_ticks(ValueRange range, int wanted) {
    const auto ticks_of = [&range](double step) {
        std::vector<double> values;
        // A tick on an end of the range counts, whatever the rounding of k * step.
        const double slack = step * 1e-9;
        for (double k = std::ceil((range.lo - slack) / step); k * step <= range.hi + slack; ++k) {
            values.push_back(k * step);
        }
        return values;
    };
    const double raw = (range.hi - range.lo) / std::max(wanted, 1);
    // Steps 1, 2, 5 times 10^power, as power * 3 + index.
    int exponent = static_cast<int>(std::floor(std::log10(raw)));
    int index = 0;
    const double kFactors[] = {1, 2, 5};
    while (kFactors[index] * std::pow(10.0, exponent) < raw) {
        if (++index == 3) {
            index = 0;
            ++exponent;
        }
    }
    double step = kFactors[index] * std::pow(10.0, exponent);
    std::vector<double> values = ticks_of(step);
    while (values.size() < 3) {
        if (--index < 0) {
            index = 2;
            --exponent;
        }
        step = kFactors[index] * std::pow(10.0, exponent);
        values = ticks_of(step);
    }
    double largest = 0;
    for (double v : values) {
        largest = std::max(largest, std::fabs(v));
    }
    const int step_digit = static_cast<int>(std::floor(std::log10(step) + 1e-9));
    ValueTicks ticks{values, {}};
    if (step >= 1e-3 && largest < 1e7) {
        for (double v : values) {
            ticks.labels.push_back(number_text(v, std::max(0, -step_digit)));
        }
        return ticks;
    }
    const int power = static_cast<int>(std::floor(std::log10(largest) + 1e-9));
    const int decimals = std::clamp(power - step_digit, 0, 15);
    for (double v : values) {
        ticks.labels.push_back(v == 0 ? "0"
                                      : number_text(v / std::pow(10.0, power), decimals) + "e" +
                                            std::to_string(power));
    }
    return ticks;
}

namespace {

// "0.002", "50", "2e-6", "1e9": a round value of a logarithmic axis.
std::string round_label(double value) {
    const int power = static_cast<int>(std::floor(std::log10(value) + 1e-9));
    if (power >= -3 && power < 7) {
        return number_text(value, std::max(0, -power));
    }
    return number_text(value / std::pow(10.0, power), 0) + "e" + std::to_string(power);
}

} // namespace

ValueRange padded_log_range(double min, double max) {
    const double decades = std::max(std::log10(max / min), 0.2);
    const double margin = std::pow(10.0, decades * kMargin);
    return {min / margin, max * margin};
}

ValueTicks axis_ticks(const ValueAxis& axis) {
    return axis.log ? log_ticks(axis.range) : value_ticks(axis.range, kValueTicks);
}

ValueTicks log_ticks(ValueRange range) {
    const int lowest = static_cast<int>(std::floor(std::log10(range.lo)));
    const int highest = static_cast<int>(std::floor(std::log10(range.hi)));
    // `factors` times every `step`th power of ten.
    const auto ticks_of = [&](const std::vector<double>& factors, int step) {
        ValueTicks ticks;
        for (int power = lowest; power <= highest; ++power) {
            for (double factor : power % step == 0 ? factors : std::vector<double>{}) {
                const double value = factor * std::pow(10.0, power);
                if (value >= range.lo && value <= range.hi) {
                    ticks.values.push_back(value);
                    ticks.labels.push_back(round_label(value));
                }
            }
        }
        return ticks;
    };
    // The powers of ten; over less than two decades 2 and 5 times them, or
    // 2, 3, 5 and 7 times them, so that there are at least three.
    ValueTicks ticks = ticks_of({1}, 1);
    for (const std::vector<double>& factors :
         {std::vector<double>{1, 2, 5}, std::vector<double>{1, 2, 3, 5, 7}}) {
        if (ticks.values.size() >= 3) {
            break;
        }
        ticks = ticks_of(factors, 1);
    }
    // Over many decades every 2nd, 3rd, 5th, 10th... power, so that the
    // labels stay apart.
    for (int scale = 1; ticks.values.size() > kMostLogTicks; scale *= 10) {
        for (int step : {2 * scale, 3 * scale, 5 * scale, 10 * scale}) {
            ticks = ticks_of({1}, step);
            if (ticks.values.size() <= kMostLogTicks) {
                break;
            }
        }
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
