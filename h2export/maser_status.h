// What h2export knows of one maser: its latest record, whether records are
// still arriving, and how many of its log lines were bad.
#pragma once

#include "h2export/log_record.h"
#include "telemetry/recent_steps.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

using SteadyClock = std::chrono::steady_clock;

// The time without records after which a maser counts as down: `fixed` when
// given, else kStaleIntervals times the usual interval between its records
// (the median of the latest ones), never less than kStaleFloor.
class StaleRule {
public:
    static constexpr int kStaleIntervals = 3;
    static constexpr std::chrono::seconds kStaleFloor{30};

    explicit StaleRule(std::optional<std::chrono::nanoseconds> fixed) : fixed_(fixed) {}

    // Notes the time of a record, in Unix nanoseconds.
    void record_time(std::int64_t unix_ns);
    std::chrono::nanoseconds stale_after() const;

private:
    std::optional<std::chrono::nanoseconds> fixed_;
    std::int64_t last_ns_ = 0;
    RecentSteps<9> intervals_;
};

class MaserStatus {
public:
    MaserStatus(std::string name, std::optional<std::chrono::nanoseconds> stale_after)
        : name_(std::move(name)), stale_(stale_after) {}

    const std::string& name() const { return name_; }

    // A record read now. It keeps the maser up only when it is recent by the
    // wall clock (`now_unix_ns`): rows of the past read at start-up or after a
    // pause tell the latest values, not that the maser is running.
    void record(const LogRecord& record, SteadyClock::time_point now, std::int64_t now_unix_ns);
    void malformed_line() { ++malformed_; }

    bool up(SteadyClock::time_point now) const { return has_fresh_ && now < down_at(); }
    // When the maser goes down unless another record comes.
    SteadyClock::time_point down_at() const { return fresh_at_ + stale_.stale_after(); }

    bool has_record() const { return has_record_; }
    std::int64_t last_unix_ns() const { return last_unix_ns_; }
    const MetricValues& values() const { return values_; }
    std::uint64_t malformed() const { return malformed_; }

private:
    std::string name_;
    StaleRule stale_;
    bool has_record_ = false;
    bool has_fresh_ = false;
    SteadyClock::time_point fresh_at_{};
    std::int64_t last_unix_ns_ = 0;
    MetricValues values_{};
    std::uint64_t malformed_ = 0;
};
