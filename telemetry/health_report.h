// What the health analysis says about a maser at a moment: per subsystem ok,
// attention or alarm, why and since when; the findings behind that; the steps
// of the recent days; and per channel its level, trend, forecast and own
// normal band. Plain data, for a page to draw and an exporter to publish.
#pragma once

#include "telemetry/subsystems.h"

#include <array>
#include <cmath>
#include <string>
#include <vector>

enum class HealthLevel { kOk, kAttention, kAlarm };

// "ok", "attention", "alarm".
const char* health_level_name(HealthLevel level);

// Where a channel's level lies against its fixed limits.
enum class Zone {
    kBelowAlarm = -2,
    kBelowNormal = -1,
    kInside = 0,
    kAboveNormal = 1,
    kAboveAlarm = 2
};

enum class Direction { kSteady, kRising, kFalling };

// "steady", "rising", "falling".
const char* direction_name(Direction direction);

struct ChannelTrend {
    bool known = false;   // a day of history at least since the channel's start
    double slope = 0;     // per day, in the channel's unit
    double slope_low = 0; // the slope's 95 % range
    double slope_high = 0;
    Direction direction = Direction::kSteady;
    double from_mjd = 0; // the history the trend rests on
    double to_mjd = 0;
};

struct ChannelForecast {
    bool ahead = false;       // a limit lies ahead at the channel's trend
    double limit = 0;         // the limit it heads for: an alarm limit, or the normal band's edge
    bool alarm_limit = false; // which of the two
    double mjd = 0;           // when it gets there
    double earliest = 0;      // the range the trend's range gives; latest infinite: maybe never
    double latest = 0;
    bool logarithmic = false; // from the trend of the logarithm (a rise by a factor a day)
    double within_since = 0;  // since when it has been within the horizon, when it is
};

struct ChannelBaseline {
    bool learned = false;
    double level = 0; // the maser's own normal level and band of the channel
    double low = 0;
    double high = 0;
    double from_mjd = 0; // the records it was learned from
    double to_mjd = 0;
};

struct ChannelState {
    int row = 0;
    double value = NAN;   // the latest reading
    double level = NAN;   // the level: spikes left out, the noise smoothed
    double start_mjd = 0; // the analysis started here (the first record, or the latest
                          // logbook entry that changed the channel)
    Zone zone = Zone::kInside;
    double zone_since = 0;
    int own_side = 0; // -1 below its own normal band, +1 above, 0 within or not learned
    double own_since = 0;
    double clear_since = 0; // when the channel's latest finding ended (or the analysis started)
    ChannelTrend trend;
    ChannelForecast forecast;
    ChannelBaseline baseline;
};

struct HealthStep {
    int row = 0;
    double mjd = 0; // the first record at the new level
    double before = 0;
    double after = 0;
    std::string
        explained_by; // the logbook entry that explains it, as "TIME SUBJECTS: WHAT"; empty: none
};

enum class FindingKind { kBeyondAlarm, kOutsideNormal, kOutsideOwnNormal, kForecast, kStep };

struct Finding {
    HealthLevel level = HealthLevel::kOk;
    FindingKind kind = FindingKind::kBeyondAlarm;
    int row = 0;
    double since_mjd = 0;
    std::string text; // one line a person reads
};

struct SubsystemHealth {
    Subsystem subsystem = Subsystem::kSupplies;
    HealthLevel level = HealthLevel::kOk;
    std::string why; // the most severe finding's line; empty when ok
    double since_mjd = 0;
};

struct HealthReport {
    double mjd = 0;                       // the latest record's time; 0: no record yet
    HealthLevel level = HealthLevel::kOk; // the worst of the subsystems'
    std::array<SubsystemHealth, kSubsystemCount> subsystems{};
    std::vector<Finding> findings;      // most severe first, then the oldest
    std::vector<HealthStep> steps;      // the recent ones, oldest first
    std::vector<ChannelState> channels; // each channel analysed, in table order

    // The channel of table row `row`, or null when it is not analysed.
    const ChannelState* channel(int row) const;
};
