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
    kBadTime,   // an MJD outside the range a timestamp can hold
};
constexpr int kLineKindCount = 6;

// What a bad line is, for messages: "a line of the wrong shape".
const char* line_kind_text(LineKind kind);

struct LogRecord {
    LogRow row;
    std::int64_t unix_ns = 0;
    MetricValues values{};
};

// Reads `line` (without its "\n") into `record`.
LineKind read_log_line(std::string_view line, LogRecord& record);
