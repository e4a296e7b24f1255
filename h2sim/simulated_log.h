// A maser's log written at simulated time: the rows h2mon's /out would have
// appended, record after record, for days or weeks of a scenario, made in
// seconds with no line and no waiting. Each row is h2mon's row of the frame
// the maser would have sent: the model's channels encoded through the channel
// table, decoded and printed by the one row writer. The scenario's story sets
// its channel's level; the room's swing and the noise come on top of it as on
// every other channel.
#pragma once

#include "h2sim/frame_model.h"
#include "h2sim/scenario.h"

#include <cstdint>
#include <string>

struct LogPlan {
    double start_mjd = 0;               // the first record's time (UTC)
    double span_days = 28;              // records up to start + span, the end excluded
    double interval_seconds = 10;       // from one record to the next
    std::uint64_t seed = 1;             // the maser
    const Scenario* scenario = nullptr; // null: the quiet maser
    double jitter = 1.0;                // times the model's noise; 0: none
};

// `days` of the scenario named `scenario` (an unknown name: the quiet maser)
// from `start_mjd`, a record every `interval_seconds`.
LogPlan log_plan(double start_mjd, const char* scenario, double days, double interval_seconds,
                 std::uint64_t seed = 1);

class SimulatedLog {
public:
    explicit SimulatedLog(const LogPlan& plan);

    // Rows in the whole span.
    std::uint64_t records() const { return records_; }

    // The time of record `record` (counted from 0).
    double mjd(std::uint64_t record) const;

    // The scenario's story time of `mjd`, in seconds since the first record.
    double story_seconds(double mjd) const;

    // The MJD of a story time.
    double mjd_of_story(double seconds) const;

    // Appends the next row, without its line end, to `row`; false after the last.
    bool next(std::string& row);

    // Records made so far.
    std::uint64_t made() const { return next_; }

private:
    LogPlan plan_;
    FrameModel model_;
    std::uint64_t records_;
    std::uint64_t next_ = 0;
};
