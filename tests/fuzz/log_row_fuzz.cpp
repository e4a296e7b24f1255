// Feeds arbitrary bytes, as a log growing in pieces, to the reader of h2mon's
// CSV rows: whole lines out of the pieces, each read as a record, a header or
// a bad line. Nothing may crash or read outside the input, a record's fields
// must be exactly the pieces of its line, and its values must be finite.
//
// Input: byte 0 sets the size of the pieces (1 to 256 bytes); the rest is the log.
#include "h2export/log_record.h"
#include "telemetry/line_assembler.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// Every time a timestamp can hold: the fuzzer reaches the whole reader.
const RecordTimes kAnyTime(std::numeric_limits<std::int64_t>::max() - RecordTimes::kAheadNs);

void check_line(std::string_view line) {
    LogRecord record;
    const LineKind kind = read_log_line(line, kAnyTime, record);
    if (kind != LineKind::kRecord) {
        return;
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    std::string joined(record.row.mjd_text());
    for (int row = 1; row < kChannelCount; ++row) {
        joined += ',';
        joined += record.row.field(row);
    }
    if (joined != line || record.unix_ns < 0) {
        std::abort();
    }
    for (double value : record.values) {
        if (!std::isfinite(value)) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = data[0] + 1u;
    const std::string_view log(reinterpret_cast<const char*>(data + 1), size - 1);
    LineAssembler assembler(1024);
    for (std::size_t at = 0; at < log.size(); at += piece) {
        assembler.feed(log.substr(at, piece), check_line, [] {});
    }
    return 0;
}
