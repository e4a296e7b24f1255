// One line of a maser's log as h2export reads it: a record with its time and
// metric values, h2mon's header line, or one of the ways a line can be bad.
#pragma once

#include "h2export/metrics.h"

#include <cstdint>
#include <string_view>

enum class LineKind {
    kRecord,
    kHeader,
    kOverlong,  // longer than any row: binary garbage, a lost line end
    kBadShape,  // not the MJD and 43 fields
    kBadNumber, // a field that is not a number of the form h2mon prints
    kBadTime,   // an MJD before the masers' era or after the time it is read
};
constexpr int kLineKindCount = 6;

// What a bad line is, for messages: "a line of the wrong shape".
const char* line_kind_text(LineKind kind);

struct LogRecord {
    LogRow row;
    std::int64_t unix_ns = 0;
    MetricValues values{};
};

// The times a record can have when read at `now_unix_ns`: from the start of
// 1990 to one day after. A stamp outside is a damaged MJD (one digit changed
// makes 61384 the year 2109), never a measurement: exported, one such point
// would make a Prometheus server drop every real block as past its retention.
struct RecordTimes {
    static constexpr std::int64_t kEarliestUnixNs = 631152000LL * 1000000000LL; // 1990-01-01
    static constexpr std::int64_t kAheadNs = 86400LL * 1000000000LL;

    explicit RecordTimes(std::int64_t now_unix_ns) : latest_unix_ns(now_unix_ns + kAheadNs) {}
    bool contain(std::int64_t unix_ns) const {
        return unix_ns >= kEarliestUnixNs && unix_ns <= latest_unix_ns;
    }
    std::int64_t latest_unix_ns;
};

// Reads `line` (without its "\n") into `record`; a row stamped outside `times` is kBadTime.
LineKind read_log_line(std::string_view line, const RecordTimes& times, LogRecord& record);
