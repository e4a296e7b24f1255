#include "h2export/maser_status.h"

#include <algorithm>

void StaleRule::record_time(std::int64_t unix_ns) {
    if (last_ns_ != 0) {
        intervals_.note(unix_ns - last_ns_);
    }
    last_ns_ = unix_ns;
}

std::chrono::nanoseconds StaleRule::stale_after() const {
    if (fixed_) {
        return *fixed_;
    }
    std::chrono::nanoseconds stale = kStaleFloor;
    if (intervals_.count() > 0) {
        stale = std::max(stale, std::chrono::nanoseconds(kStaleIntervals * intervals_.median()));
    }
    return stale;
}

void MaserStatus::record(const LogRecord& record, SteadyClock::time_point now,
                         std::int64_t now_unix_ns) {
    stale_.record_time(record.unix_ns);
    has_record_ = true;
    last_unix_ns_ = record.unix_ns;
    values_ = record.values;
    const std::int64_t age_ns = now_unix_ns - record.unix_ns;
    if (age_ns < stale_.stale_after().count()) {
        has_fresh_ = true;
        fresh_at_ = now;
    }
}
