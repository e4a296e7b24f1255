#include "h2sim/simulated_log.h"

#include "telemetry/log_row.h"
#include "telemetry/mjd_time.h"

#include <cmath>

LogPlan log_plan(double start_mjd, const char* scenario, double days, double interval_seconds,
                 std::uint64_t seed) {
    LogPlan plan;
    plan.start_mjd = start_mjd;
    plan.span_days = days;
    plan.interval_seconds = interval_seconds;
    plan.seed = seed;
    plan.scenario = scenario_named(scenario);
    return plan;
}

SimulatedLog::SimulatedLog(const LogPlan& plan)
    : plan_(plan), model_(plan.seed),
      records_(static_cast<std::uint64_t>(
          std::ceil(plan.span_days * kSecondsPerDay / plan.interval_seconds - 1e-9))) {}

double SimulatedLog::mjd(std::uint64_t record) const {
    return plan_.start_mjd + static_cast<double>(record) * plan_.interval_seconds / kSecondsPerDay;
}

double SimulatedLog::story_seconds(double mjd) const {
    return (mjd - plan_.start_mjd) * kSecondsPerDay;
}

double SimulatedLog::mjd_of_story(double seconds) const {
    return plan_.start_mjd + seconds / kSecondsPerDay;
}

bool SimulatedLog::next(std::string& row) {
    if (next_ >= records_) {
        return false;
    }
    // The story's time comes from the record's number, not from its printed
    // MJD, so a step falls on the record the story puts it at.
    const double seconds = static_cast<double>(next_) * plan_.interval_seconds;
    const double at = mjd(next_);
    const Scenario* scenario = plan_.scenario;
    FrameModel::StoryLevel story{};
    if (scenario != nullptr && scenario->channel != nullptr) {
        story = {scenario->channel, story_value(*scenario, seconds)};
    }
    const Frame frame =
        model_.frame_at(at, next_, plan_.jitter, story.channel != nullptr ? &story : nullptr);
    row += csv_mjd(at);
    append_csv_fields(row, frame.data());
    ++next_;
    return true;
}
