#include "telemetry/health_rules.h"

#include "telemetry/channels.h"
#include "telemetry/time_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A measurement's number with the decimals its resolution carries (a count of
// Ion_uA is 0.24 uA: one; of a signal level 0.0024 V: three, as the log),
// without trailing zeros.
std::string number_text(int row, double value) {
    const double count = std::fabs(kChannels[row].scale);
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(count))), 0, 3);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') == std::string::npos) {
        return s == "-0" ? "0" : s;
    }
    while (s.back() == '0') {
        s.pop_back();
    }
    if (s.back() == '.') {
        s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

// Three significant digits, for slopes and the like.
std::string rough_text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

std::string unit_of(int row) {
    const std::string_view unit = channel_unit(kChannels[row]);
    return unit.empty() ? "" : " " + std::string(unit);
}

// A limit as the table writes it, with its unit.
std::string limit_text(int row, double limit) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", limit);
    return text + unit_of(row);
}

std::string time_text(double mjd) {
    return utc_text(micro_days(mjd), 4) + " UTC";
}

std::string days_text(double days) {
    char text[32];
    std::snprintf(text, sizeof text, days < 10 ? "%.1f" : "%.0f", days);
    return text;
}

std::string name_of(int row) {
    return kChannels[row].name;
}

Finding finding(HealthLevel level, FindingKind kind, int row, double since, std::string text) {
    return {level, kind, row, since, std::move(text)};
}

void level_findings(const ChannelState& c, const ChannelLimits& limits,
                    std::vector<Finding>& findings) {
    const std::string at = name_of(c.row) + " at " + value_text(c.row, c.level);
    const bool below = static_cast<int>(c.zone) < 0;
    switch (c.zone) {
    case Zone::kBelowAlarm:
    case Zone::kAboveAlarm:
        findings.push_back(
            finding(HealthLevel::kAlarm, FindingKind::kBeyondAlarm, c.row, c.zone_since,
                    at + ", " + (below ? "below" : "above") + " its alarm limit " +
                        limit_text(c.row, below ? limits.alarm.low : limits.alarm.high)));
        return;
    case Zone::kBelowNormal:
    case Zone::kAboveNormal:
        findings.push_back(finding(HealthLevel::kAttention, FindingKind::kOutsideNormal, c.row,
                                   c.zone_since,
                                   at + ", " + (below ? "below" : "above") + " its normal band " +
                                       range_text(limits.normal) + unit_of(c.row)));
        return;
    case Zone::kInside:
        break;
    }
    // Within the fixed limits but not where this maser keeps the channel.
    if (c.own_side != 0) {
        findings.push_back(finding(
            HealthLevel::kAttention, FindingKind::kOutsideOwnNormal, c.row, c.own_since,
            at + ", " + (c.own_side < 0 ? "below" : "above") + " this maser's normal " +
                number_text(c.row, c.baseline.low) + ".." + number_text(c.row, c.baseline.high) +
                unit_of(c.row) + " (learned " + time_text(c.baseline.from_mjd) + " to " +
                time_text(c.baseline.to_mjd) + ")"));
    }
}

void forecast_finding(const ChannelState& c, double now, const HealthSettings& settings,
                      std::vector<Finding>& findings) {
    const ChannelForecast& f = c.forecast;
    // A date passed since the trend was fitted: the level tells the rest.
    if (!f.ahead || f.mjd < now || f.mjd - now > settings.horizon_days) {
        return;
    }
    findings.push_back(finding(HealthLevel::kAttention, FindingKind::kForecast, c.row,
                               f.within_since, forecast_text(c, now)));
}

void step_findings(const HealthReport& report, std::vector<Finding>& findings) {
    for (const HealthStep& step : report.steps) {
        if (!step.explained_by.empty()) {
            continue;
        }
        const double size = step.after - step.before;
        findings.push_back(finding(
            HealthLevel::kAttention, FindingKind::kStep, step.row, step.mjd,
            name_of(step.row) + " stepped from " + value_text(step.row, step.before) + " to " +
                value_text(step.row, step.after) +
                (channel_kind(kChannels[step.row]) == ChannelKind::kMeasurement
                     ? " (" + std::string(size > 0 ? "+" : "") + value_text(step.row, size) + ")"
                     : "") +
                " at " + time_text(step.mjd) + ", not explained by the logbook"));
    }
}

void rate_subsystems(HealthReport& report) {
    for (int s = 0; s < kSubsystemCount; ++s) {
        SubsystemHealth& health = report.subsystems[static_cast<std::size_t>(s)];
        health = SubsystemHealth{};
        health.subsystem = static_cast<Subsystem>(s);
        const unsigned bit = 1u << s;
        for (const Finding& f : report.findings) {
            if ((subsystems_of_row(f.row) & bit) != 0) {
                // Findings come most severe first, oldest first.
                health.level = f.level;
                health.why = f.text;
                health.since_mjd = f.since_mjd;
                break;
            }
        }
        if (health.level == HealthLevel::kOk) {
            health.since_mjd = 0;
            for (const ChannelState& c : report.channels) {
                if ((subsystems_of_row(c.row) & bit) != 0) {
                    health.since_mjd = std::max(health.since_mjd, c.clear_since);
                }
            }
        }
        report.level = std::max(report.level, health.level);
    }
}

} // namespace

const char* health_level_name(HealthLevel level) {
    switch (level) {
    case HealthLevel::kOk:
        return "ok";
    case HealthLevel::kAttention:
        return "attention";
    case HealthLevel::kAlarm:
        return "alarm";
    }
    return "";
}

const char* direction_name(Direction direction) {
    switch (direction) {
    case Direction::kSteady:
        return "steady";
    case Direction::kRising:
        return "rising";
    case Direction::kFalling:
        return "falling";
    }
    return "";
}

const ChannelState* HealthReport::channel(int row) const {
    for (const ChannelState& c : channels) {
        if (c.row == row) {
            return &c;
        }
    }
    return nullptr;
}

std::string value_text(int row, double value) {
    const CHANNEL& channel = kChannels[row];
    if (channel_kind(channel) == ChannelKind::kMeasurement) {
        return number_text(row, value) + unit_of(row);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%0*llX", 2 * channel_bytes(channel),
                  static_cast<unsigned long long>(std::llround(std::fabs(value))));
    return text;
}

std::string forecast_text(const ChannelState& c, double now) {
    const ChannelForecast& f = c.forecast;
    const std::string range =
        std::isfinite(f.latest)
            ? days_text(std::max(0.0, f.earliest - now)) + " to " + days_text(f.latest - now)
            : days_text(std::max(0.0, f.earliest - now)) + " or more";
    const bool rising = c.trend.direction == Direction::kRising;
    return name_of(c.row) + " reaches " +
           (f.alarm_limit ? "its alarm limit " : "the edge of its normal band ") +
           limit_text(c.row, f.limit) + " in about " + days_text(f.mjd - now) + " days (" + range +
           "), " + (rising ? "rising" : "falling") + " by " + rough_text(std::fabs(c.trend.slope)) +
           unit_of(c.row) + " a day";
}

void apply_health_rules(HealthReport& report, const LimitTable& limits,
                        const HealthSettings& settings) {
    report.findings.clear();
    for (const ChannelState& c : report.channels) {
        if (channel_kind(kChannels[c.row]) != ChannelKind::kMeasurement || std::isnan(c.level)) {
            continue;
        }
        level_findings(c, limits.of(c.row), report.findings);
        forecast_finding(c, report.mjd, settings, report.findings);
    }
    step_findings(report, report.findings);
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const Finding& a, const Finding& b) {
                         return a.level != b.level ? a.level > b.level : a.since_mjd < b.since_mjd;
                     });
    report.level = HealthLevel::kOk;
    rate_subsystems(report);
}
