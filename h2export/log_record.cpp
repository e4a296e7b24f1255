#include "h2export/log_record.h"

#include "telemetry/mjd_time.h"

const char* line_kind_text(LineKind kind) {
    switch (kind) {
    case LineKind::kRecord:
        return "a record";
    case LineKind::kHeader:
        return "a header line";
    case LineKind::kOverlong:
        return "an overlong line";
    case LineKind::kBadShape:
        return "a line that is not the MJD and 43 fields";
    case LineKind::kBadNumber:
        return "a row with a field that is not a number";
    case LineKind::kBadTime:
        return "a row whose MJD is before 1990 or more than a day ahead of the clock";
    }
    return "?";
}

LineKind read_log_line(std::string_view line, const RecordTimes& times, LogRecord& record) {
    switch (record.row.parse(line)) {
    case LogLine::kHeader:
        return LineKind::kHeader;
    case LogLine::kMalformed:
        return LineKind::kBadShape;
    case LogLine::kRow:
        break;
    }
    // Every measurement is a metric: parsing those and checking the codes' digits
    // covers every field.
    if (!record.row.codes_well_formed() || !metric_values(record.row, &record.values)) {
        return LineKind::kBadNumber;
    }
    if (!mjd_unix_ns(record.row.mjd_text(), &record.unix_ns) || !times.contain(record.unix_ns)) {
        return LineKind::kBadTime;
    }
    return LineKind::kRecord;
}
