// The health of one maser, analysed as its records come: fed one record at a
// time in time order, asked at any time for the current report.
//
//     MaserHealth east(maser_limits("/etc/h2mon", "east", errors));
//     for (const LogbookEntry& entry : read_logbook_file("/var/log/h2mon/east.logbook", errors))
//         east.add_logbook_entry(entry);
//     LogRow row;
//     while (next_line(&line))                        // the log, oldest record first
//         if (row.parse(line) == LogLine::kRow)
//             east.add(row);                          // or add(mjd, values) with values parsed
//             already
//     const HealthReport report = east.report();      // subsystems, findings, steps, channels
//     std::printf("%s\n", health_level_name(report.level));
//
// What it keeps is bounded whatever the span: per channel a smoothed level
// with a few recent readings (for steps), the current hour's sum, hourly
// means over the trend's window (a week) and the learned normal band; per
// maser the steps of the recent days and the logbook entries given. The work
// per record is a few comparisons and sums per channel; every six hours of
// records each channel's trend is fitted again (Theil-Sen over six-hourly
// means), so a report costs the same whenever it is asked for, and the same
// records give the same report whether it is asked after each record or once
// at the end.
//
// Each channel's own normal band is learned from the first day of records
// fed, or from the first day after a logbook entry that concerns it (write
// `all: commissioned` after commissioning): programs that feed the same
// records from the same start agree, and one that starts later (h2export
// after a restart) learns the band anew unless it feeds from that start.
#pragma once

#include "telemetry/health_report.h"
#include "telemetry/health_rules.h"
#include "telemetry/level_tracker.h"
#include "telemetry/limits.h"
#include "telemetry/log_row.h"
#include "telemetry/logbook.h"
#include "telemetry/trend.h"

#include <cstdint>
#include <deque>
#include <vector>

class MaserHealth {
public:
    explicit MaserHealth(LimitTable limits, HealthSettings settings = {});

    // A record: its MJD and values[row] for every channel table row (NaN where
    // the record has none; codes as LogRow::value reads them). A record older
    // than the one before is left out and counted.
    void add(double mjd, const double* values);

    // The same from a row of h2mon's log; only the analysed channels are parsed.
    void add(const LogRow& row);

    // A logbook entry, each once, at any time. It takes effect at the first
    // record at or after its time; one older than the latest record takes
    // effect at the next record, with the history since its time kept.
    void add_logbook_entry(const LogbookEntry& entry);

    HealthReport report() const;

    // The channel table rows analysed: every measurement, and the codes the
    // limits give a step.
    const std::vector<int>& rows() const { return rows_; }
    const LimitTable& limits() const { return limits_; }
    // Records left out for coming before the one before them.
    std::uint64_t out_of_order() const { return out_of_order_; }

private:
    // Whether the level lies within a band, decided once this many records in
    // a row lie in the same zone, since the first of them.
    struct ZoneWatch {
        int zone = 0;
        int candidate = 0;
        int count = 0;
        double since = 0;
        double candidate_since = 0;
        bool see(int seen, double mjd);
    };

    // What each record reads and writes comes first, together.
    struct Channel {
        Channel(int row, const LimitTable& limits, std::size_t hours);
        int row;
        LevelTracker tracker;
        double alarm_low, normal_low, normal_high, alarm_high; // the limits, infinite when open
        double own_low = -HUGE_VAL; // the learned normal band; infinite until learned
        double own_high = HUGE_VAL;
        double value = NAN;
        double hour_sum = 0; // readings of the current hour taken into its mean
        int hour_count = 0;
        bool measurement;
        ZoneWatch fixed;
        ZoneWatch own;

        int fixed_zone(double level) const;
        bool grows; // rises by a factor a day when it goes wrong: its logarithm is fitted too
        double resolution;
        std::vector<float> hour_mean; // per slot of the maser's hour ring
        std::vector<std::uint16_t> hour_readings;
        double start_mjd = 0;
        double level_since = 0; // the latest step of the level: a trend rests on what follows it
        double clear_since = 0;
        ChannelBaseline baseline;
        ChannelTrend trend;
        ChannelForecast forecast;
    };

    struct HourSlot {
        std::int64_t hour = -1;
        double mjd_sum = 0;
        int records = 0;
    };

    struct Step {
        int row;
        LevelStep step;
    };

    void start(double mjd);
    void apply_due_entries(double mjd);
    void restart(Channel& channel, double mjd);
    void close_hour();
    void learn_baseline(Channel& channel);
    void fit_trend(Channel& channel, double now);
    void forecast(Channel& channel, const TrendLine& line, const TrendLine& log_line, double now);
    void take_reading(Channel& channel, double mjd, double value);
    void watch_zones(Channel& channel, double mjd);
    std::vector<TrendPoint> history(const Channel& channel, double from, int hours_per_point) const;
    std::string explanation(int row, double mjd) const;

    LimitTable limits_;
    HealthSettings settings_;
    std::vector<int> rows_;
    std::vector<Channel> channels_;
    std::vector<HourSlot> hours_; // a ring indexed by the hour number
    std::int64_t hour_ = -1;      // the hour being gathered
    std::size_t slot_ = 0;        // and its slot
    double first_mjd_ = 0;
    double last_mjd_ = 0;
    bool started_ = false;
    std::uint64_t out_of_order_ = 0;
    std::deque<Step> steps_;
    std::vector<LogbookEntry> due_;    // entries not yet in effect, latest first
    std::deque<LogbookEntry> entries_; // entries in effect, oldest first
    std::vector<double> scratch_;
};
