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

namespace {

// True when `text` has the form h2mon prints a number in: an optional '-',
// digits without a leading zero (but "0" itself), a point and exactly
// `decimals` digits. "27", ".069", "027.069" and "1e5" read as numbers, but
// no h2mon wrote them: such a field is damage, not a reading.
bool printed_decimal(std::string_view text, std::size_t decimals) {
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() < start + decimals + 2) {
        return false;
    }
    const std::size_t point = text.size() - decimals - 1;
    if (text[point] != '.' || (text[start] == '0' && point != start + 1)) {
        return false;
    }
    for (std::size_t i = start; i < text.size(); ++i) {
        if (i != point && (text[i] < '0' || text[i] > '9')) {
            return false;
        }
    }
    return true;
}

bool fields_as_printed(const LogRow& row) {
    if (!printed_decimal(row.mjd_text(), 6) || row.mjd_text()[0] == '-') {
        return false;
    }
    for (int r = 1; r < kChannelCount; ++r) {
        if (kChannels[r].scale != 0 && !printed_decimal(row.field(r), 3)) {
            return false;
        }
    }
    return true;
}

} // namespace

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
    if (!record.row.codes_well_formed() || !fields_as_printed(record.row) ||
        !metric_values(record.row, &record.values)) {
        return LineKind::kBadNumber;
    }
    if (!mjd_unix_ns(record.row.mjd_text(), &record.unix_ns) || !times.contain(record.unix_ns)) {
        return LineKind::kBadTime;
    }
    return LineKind::kRecord;
}
