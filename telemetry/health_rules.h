// The rules that turn a maser's channel states into its health, in one place:
//
//   alarm      a channel's level beyond an alarm limit
//   attention  a level outside the channel's normal band;
//              a level outside the maser's own normal band of the channel
//              (learned from its history after the start or a logbook entry);
//              a trend that reaches an alarm limit (or, where the channel has
//              none, the normal band's edge) within the horizon, from now;
//              a step in the recent days that no logbook entry explains (an
//              entry about the channel within the explaining time of it)
//   ok         none of these
//
// A subsystem takes the worst level of its channels' findings; its reason is
// the line of its most severe finding (the oldest of those), its time the
// oldest such finding's start, or when ok, when its latest finding ended.
#pragma once

#include "telemetry/health_report.h"
#include "telemetry/limits.h"

struct HealthSettings {
    double horizon_days = 30;   // a forecast within this many days is attention
    double recent_days = 7;     // steps this recent are reported
    double explain_hours = 2;   // a logbook entry this near a step explains it
    double trend_days = 7;      // the history a trend rests on
    double baseline_hours = 24; // the history a maser's own normal band is learned from
};

// Fills the report's findings, subsystems and overall level from its
// channels and steps.
void apply_health_rules(HealthReport& report, const LimitTable& limits,
                        const HealthSettings& settings);

// The line a person reads of a channel's forecast, which lies ahead, seen at
// `now`: "Ion_uA reaches its alarm limit 80 uA in about 9.1 days (7.2 to
// 11.5), rising by 3.1 uA a day". A forecast within the horizon is a
// finding with this line.
std::string forecast_text(const ChannelState& channel, double now);

// A channel's value as a person reads it: a measurement with its unit and no
// more digits than the log has ("14.62 V"), a code as its hexadecimal digits
// as the log prints them ("8010").
std::string value_text(int row, double value);
