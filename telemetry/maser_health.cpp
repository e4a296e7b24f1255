#include "telemetry/maser_health.h"

#include "telemetry/channels.h"
#include "telemetry/time_text.h"

#include <algorithm>
#include <cmath>

namespace {

// An ion pump's current grows by a factor a day as a leak develops, so a
// straight line through it forecasts late: its logarithm is fitted too, and
// the earlier forecast taken.
constexpr const char* kGrowingChannels[] = {"Ion_uA"};

// A trend is fitted to means over this many hours, once each such block ends.
constexpr int kHoursPerTrendPoint = 6;
// A trend needs this much history since the channel's start, in days.
constexpr double kLeastTrendDays = 1.0;
// A zone is entered once this many records in a row lie in it.
constexpr int kZoneRecords = 3;
// Steps and logbook entries kept at the most.
constexpr std::size_t kStepsKept = 512;
constexpr std::size_t kEntriesKept = 1024;
// A trend is steady when at its slope the channel moves less than this part
// of its normal band's width within the horizon.
constexpr double kSteadyPartOfBand = 0.25;

constexpr double kHoursPerDay = 24;

// One count of a measurement; a code's counts are whole numbers.
double resolution_of(int row) {
    const CHANNEL& channel = kChannels[row];
    return channel_kind(channel) == ChannelKind::kMeasurement ? std::fabs(channel.scale) : 0;
}

bool is_growing(int row) {
    for (const char* name : kGrowingChannels) {
        if (channel_row_named(name) == row) {
            return true;
        }
    }
    return false;
}

std::size_t slot_of(std::int64_t hour, std::size_t slots) {
    return static_cast<std::size_t>(hour % static_cast<std::int64_t>(slots));
}

} // namespace

bool MaserHealth::ZoneWatch::see(int seen, double mjd) {
    if (seen == zone) {
        count = 0;
        return false;
    }
    if (count == 0 || seen != candidate) {
        candidate = seen;
        candidate_since = mjd;
        count = 0;
    }
    if (++count < kZoneRecords) {
        return false;
    }
    zone = seen;
    since = candidate_since;
    count = 0;
    return true;
}

MaserHealth::Channel::Channel(int row_, const LimitTable& limits, std::size_t hours)
    : row(row_), tracker(resolution_of(row_)), alarm_low(limits.of(row_).alarm.low),
      normal_low(limits.of(row_).normal.low), normal_high(limits.of(row_).normal.high),
      alarm_high(limits.of(row_).alarm.high),
      measurement(channel_kind(kChannels[row_]) == ChannelKind::kMeasurement),
      grows(is_growing(row_)), resolution(resolution_of(row_)), hour_mean(hours, 0),
      hour_readings(hours, 0) {}

int MaserHealth::Channel::fixed_zone(double level) const {
    if (level < alarm_low) {
        return -2;
    }
    if (level > alarm_high) {
        return 2;
    }
    return level < normal_low ? -1 : level > normal_high ? 1 : 0;
}

MaserHealth::MaserHealth(LimitTable limits, HealthSettings settings)
    : limits_(std::move(limits)), settings_(settings) {
    // Hours kept: the trend's window and the learning of the normal band,
    // whichever is longer, and the block being gathered.
    const double hours = std::max(settings_.trend_days * kHoursPerDay, settings_.baseline_hours);
    hours_.resize(static_cast<std::size_t>(std::ceil(hours)) + 2 * kHoursPerTrendPoint);
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        const ChannelKind kind = channel_kind(channel);
        if (kind == ChannelKind::kMeasurement ||
            (kind == ChannelKind::kCode && code_is_number(channel) && limits_.of(row).step > 0)) {
            rows_.push_back(row);
            channels_.emplace_back(row, limits_, hours_.size());
        }
    }
}

void MaserHealth::start(double mjd) {
    started_ = true;
    first_mjd_ = mjd;
    for (Channel& channel : channels_) {
        channel.start_mjd = mjd;
        channel.clear_since = mjd;
        channel.fixed.since = mjd;
        channel.own.since = mjd;
    }
}

void MaserHealth::add_logbook_entry(const LogbookEntry& entry) {
    // Latest first, so the next one due is at the back.
    const auto at =
        std::upper_bound(due_.begin(), due_.end(), entry.mjd,
                         [](double mjd, const LogbookEntry& other) { return mjd > other.mjd; });
    due_.insert(at, entry);
}

void MaserHealth::restart(Channel& channel, double mjd) {
    channel.start_mjd = mjd;
    const bool troubled =
        channel.own.zone != 0 || (channel.forecast.ahead && channel.forecast.within_since > 0);
    if (troubled) {
        channel.clear_since = std::max(channel.clear_since, mjd);
    }
    channel.own = ZoneWatch{};
    channel.own.since = mjd;
    channel.baseline = ChannelBaseline{};
    channel.own_low = -HUGE_VAL;
    channel.own_high = HUGE_VAL;
    channel.trend = ChannelTrend{};
    channel.forecast = ChannelForecast{};
    learn_baseline(channel); // from the hours kept since `mjd`, when there are enough
}

void MaserHealth::apply_due_entries(double mjd) {
    while (!due_.empty() && due_.back().mjd <= mjd) {
        const LogbookEntry& entry = due_.back();
        if (!entry.note) {
            for (Channel& channel : channels_) {
                if (channel.measurement && entry.concerns(channel.row)) {
                    restart(channel, std::max(entry.mjd, first_mjd_));
                }
            }
        }
        entries_.push_back(entry);
        if (entries_.size() > kEntriesKept) {
            entries_.pop_front();
        }
        due_.pop_back();
    }
}

void MaserHealth::take_reading(Channel& channel, double mjd, double value) {
    channel.value = value;
    switch (channel.tracker.add(mjd, value)) {
    case LevelTracker::Outcome::kTaken:
        channel.hour_sum += value;
        ++channel.hour_count;
        break;
    case LevelTracker::Outcome::kHeld:
        break;
    case LevelTracker::Outcome::kStepped: {
        for (float held : channel.tracker.held()) {
            channel.hour_sum += held;
            ++channel.hour_count;
        }
        const LevelStep& step = channel.tracker.step();
        channel.level_since = step.mjd;
        const double smallest = limits_.of(channel.row).step;
        if (smallest > 0 && std::fabs(step.after - step.before) >= smallest) {
            steps_.push_back({channel.row, step});
            if (steps_.size() > kStepsKept) {
                steps_.pop_front();
            }
        }
        break;
    }
    }
}

void MaserHealth::watch_zones(Channel& channel, double mjd) {
    const double level = channel.tracker.level();
    if (channel.fixed.see(channel.fixed_zone(level), mjd) && channel.fixed.zone == 0) {
        channel.clear_since = std::max(channel.clear_since, channel.fixed.since);
    }
    const int side = level < channel.own_low ? -1 : level > channel.own_high ? 1 : 0;
    if (channel.own.see(side, mjd) && side == 0) {
        channel.clear_since = std::max(channel.clear_since, channel.own.since);
    }
}

void MaserHealth::add(double mjd, const double* values) {
    if (started_ && mjd < last_mjd_) {
        ++out_of_order_;
        return;
    }
    if (!started_) {
        start(mjd);
    }
    apply_due_entries(mjd);
    const auto hour = static_cast<std::int64_t>(std::floor(mjd * kHoursPerDay));
    if (hour != hour_) {
        if (hour_ >= 0) {
            close_hour();
        }
        const bool block_ended =
            hour_ >= 0 && hour / kHoursPerTrendPoint != hour_ / kHoursPerTrendPoint;
        const std::int64_t ended_block = hour_ / kHoursPerTrendPoint;
        hour_ = hour;
        slot_ = slot_of(hour, hours_.size());
        hours_[slot_] = HourSlot{hour, 0, 0};
        if (block_ended) {
            const double block_end =
                static_cast<double>((ended_block + 1) * kHoursPerTrendPoint) / kHoursPerDay;
            for (Channel& channel : channels_) {
                if (channel.measurement) {
                    fit_trend(channel, block_end);
                }
            }
        }
    }
    HourSlot& slot = hours_[slot_];
    slot.mjd_sum += mjd;
    ++slot.records;
    for (Channel& channel : channels_) {
        const double value = values[channel.row];
        if (std::isnan(value)) {
            continue;
        }
        take_reading(channel, mjd, value);
        if (channel.measurement && channel.tracker.settled()) {
            watch_zones(channel, mjd);
        }
    }
    last_mjd_ = mjd;
}

void MaserHealth::add(const LogRow& row) {
    double values[kChannelCount];
    std::fill(std::begin(values), std::end(values), NAN);
    for (int r : rows_) {
        if (!row.value(r, &values[r])) {
            values[r] = NAN;
        }
    }
    add(row.mjd(), values);
}

void MaserHealth::close_hour() {
    const std::size_t slot = slot_of(hour_, hours_.size());
    for (Channel& channel : channels_) {
        channel.hour_mean[slot] = channel.hour_count > 0
                                      ? static_cast<float>(channel.hour_sum / channel.hour_count)
                                      : 0.0f;
        channel.hour_readings[slot] =
            static_cast<std::uint16_t>(std::min(channel.hour_count, 65535));
        channel.hour_sum = 0;
        channel.hour_count = 0;
        if (channel.measurement && !channel.baseline.learned) {
            learn_baseline(channel);
        }
    }
}

// Means over `hours_per_point` hours of the channel's hours kept from `from`
// on, each at the mean time of its records.
std::vector<TrendPoint> MaserHealth::history(const Channel& channel, double from,
                                             int hours_per_point) const {
    std::vector<TrendPoint> points;
    const auto first = static_cast<std::int64_t>(std::ceil(from * kHoursPerDay - 1e-9));
    const auto kept = static_cast<std::int64_t>(hours_.size());
    double sum = 0, mjd_sum = 0, weight = 0;
    std::int64_t block = -1;
    auto flush = [&]() {
        if (weight > 0) {
            points.push_back({mjd_sum / weight, sum / weight});
        }
        sum = mjd_sum = weight = 0;
    };
    for (std::int64_t hour = std::max(first, hour_ - kept + 1); hour < hour_; ++hour) {
        const std::size_t slot = slot_of(hour, hours_.size());
        const HourSlot& h = hours_[slot];
        if (h.hour != hour || channel.hour_readings[slot] == 0) {
            continue;
        }
        if (hour / hours_per_point != block) {
            flush();
            block = hour / hours_per_point;
        }
        const double readings = channel.hour_readings[slot];
        sum += channel.hour_mean[slot] * readings;
        mjd_sum += h.mjd_sum / h.records * readings;
        weight += readings;
    }
    flush();
    return points;
}

void MaserHealth::learn_baseline(Channel& channel) {
    const std::vector<TrendPoint> hours = history(channel, channel.start_mjd, 1);
    const auto needed = static_cast<std::size_t>(std::ceil(settings_.baseline_hours));
    if (hours.size() < needed || needed == 0) {
        return;
    }
    std::vector<double> values;
    for (std::size_t i = 0; i < needed; ++i) {
        values.push_back(hours[i].value);
    }
    std::sort(values.begin(), values.end());
    const double low = values.front();
    const double high = values.back();
    // Room beyond what the learning day showed: half its range again (the
    // next days' swing differs a little), a few counts, and a tenth of the
    // normal band, so that a channel the room does not move is not held to
    // the noise of one day.
    const LimitRange& normal = limits_.of(channel.row).normal;
    const double room = std::max({(high - low) / 2, 3 * channel.resolution,
                                  normal.closed() ? (normal.high - normal.low) / 10 : 0.0});
    ChannelBaseline& b = channel.baseline;
    b.learned = true;
    b.level = values[values.size() / 2];
    b.low = low - room;
    b.high = high + room;
    b.from_mjd = std::floor(hours.front().mjd * kHoursPerDay) / kHoursPerDay;
    b.to_mjd = std::floor(hours[needed - 1].mjd * kHoursPerDay + 1) / kHoursPerDay;
    channel.own_low = b.low;
    channel.own_high = b.high;
}

void MaserHealth::fit_trend(Channel& channel, double now) {
    // A line through a step is no trend: it starts at the latest.
    const double start = std::max(channel.start_mjd, channel.level_since);
    const double from = std::max(start, now - settings_.trend_days);
    const bool was_within = channel.forecast.ahead && channel.forecast.within_since > 0;
    const double within_since = channel.forecast.within_since;
    channel.trend = ChannelTrend{};
    channel.forecast = ChannelForecast{};
    const std::vector<TrendPoint> points = history(channel, from, kHoursPerTrendPoint);
    if (now - start >= kLeastTrendDays && points.size() >= 4) {
        const TrendLine line = theil_sen(points, scratch_);
        TrendLine log_line;
        if (channel.grows && std::all_of(points.begin(), points.end(),
                                         [](const TrendPoint& p) { return p.value > 0; })) {
            std::vector<TrendPoint> logs = points;
            for (TrendPoint& p : logs) {
                p.value = std::log(p.value);
            }
            log_line = theil_sen(logs, scratch_);
        }
        ChannelTrend& trend = channel.trend;
        trend.known = line.valid;
        trend.slope = line.slope;
        trend.slope_low = line.slope_low;
        trend.slope_high = line.slope_high;
        trend.from_mjd = points.front().mjd;
        trend.to_mjd = points.back().mjd;
        const LimitRange& normal = limits_.of(channel.row).normal;
        const bool negligible =
            normal.closed() && std::fabs(line.slope) * settings_.horizon_days <
                                   kSteadyPartOfBand * (normal.high - normal.low);
        const bool uncertain = line.slope_low <= 0 && line.slope_high >= 0;
        trend.direction = negligible || uncertain ? Direction::kSteady
                          : line.slope > 0        ? Direction::kRising
                                                  : Direction::kFalling;
        if (trend.direction != Direction::kSteady) {
            forecast(channel, line, log_line, now);
        }
    }
    ChannelForecast& f = channel.forecast;
    const bool within = f.ahead && f.mjd - now <= settings_.horizon_days;
    if (within) {
        f.within_since = was_within ? within_since : now;
    } else if (was_within) {
        channel.clear_since = std::max(channel.clear_since, now);
    }
}

void MaserHealth::forecast(Channel& channel, const TrendLine& line, const TrendLine& log_line,
                           double now) {
    const ChannelLimits& limits = limits_.of(channel.row);
    const bool rising = channel.trend.direction == Direction::kRising;
    const double alarm = rising ? limits.alarm.high : limits.alarm.low;
    const double edge = rising ? limits.normal.high : limits.normal.low;
    ChannelForecast& f = channel.forecast;
    f.alarm_limit = std::isfinite(alarm);
    f.limit = f.alarm_limit ? alarm : edge;
    if (!std::isfinite(f.limit)) {
        return;
    }
    Crossing crossing = linear_crossing(line, f.limit);
    if (log_line.valid && rising) {
        const Crossing growth = log_crossing(log_line, f.limit);
        if (growth.ahead && (!crossing.ahead || growth.mjd < crossing.mjd)) {
            crossing = growth;
            f.logarithmic = true;
        }
    }
    // A line that has passed the limit already: the level says so, not a forecast.
    if (!crossing.ahead || crossing.mjd < now) {
        f.logarithmic = false;
        return;
    }
    f.ahead = true;
    f.mjd = crossing.mjd;
    f.earliest = crossing.earliest;
    f.latest = crossing.latest;
}

std::string MaserHealth::explanation(int row, double mjd) const {
    const double reach = settings_.explain_hours / kHoursPerDay;
    auto explains = [&](const LogbookEntry& entry) {
        return entry.concerns(row) && std::fabs(entry.mjd - mjd) <= reach;
    };
    auto text = [](const LogbookEntry& entry) {
        return utc_text(micro_days(entry.mjd), 4) + " " + entry.subjects + ": " + entry.what;
    };
    for (const LogbookEntry& entry : entries_) {
        if (explains(entry)) {
            return text(entry);
        }
    }
    for (auto it = due_.rbegin(); it != due_.rend(); ++it) {
        if (explains(*it)) {
            return text(*it);
        }
    }
    return {};
}

HealthReport MaserHealth::report() const {
    HealthReport report;
    if (!started_) {
        return report;
    }
    report.mjd = last_mjd_;
    for (const Channel& channel : channels_) {
        ChannelState state;
        state.row = channel.row;
        state.value = channel.value;
        state.level = channel.tracker.settled() ? channel.tracker.level() : NAN;
        state.start_mjd = channel.start_mjd;
        state.zone = static_cast<Zone>(channel.fixed.zone);
        state.zone_since = channel.fixed.since;
        state.own_side = channel.own.zone;
        state.own_since = channel.own.since;
        state.clear_since = channel.clear_since;
        state.trend = channel.trend;
        state.forecast = channel.forecast;
        state.baseline = channel.baseline;
        report.channels.push_back(state);
    }
    for (const Step& step : steps_) {
        if (step.step.mjd >= last_mjd_ - settings_.recent_days) {
            report.steps.push_back({step.row, step.step.mjd, step.step.before, step.step.after,
                                    explanation(step.row, step.step.mjd)});
        }
    }
    apply_health_rules(report, limits_, settings_);
    return report;
}
