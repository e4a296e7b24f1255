#include "h2export/backfill.h"

#include "h2export/line_reports.h"
#include "program/exit_code.h"
#include "telemetry/log_reader.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>

namespace {

// Samples of every family follow all the families' metadata, a record at a
// time, so that any length of log goes through in one pass and constant memory;
// promtool's importer takes the families' samples interleaved so.
void append_metadata(std::string& out) {
    for (const MetricFamily& family : kMetricFamilies) {
        out += "# TYPE ";
        out += family.name;
        out += " gauge\n# HELP ";
        out += family.name;
        out += ' ';
        out += family.help;
        out += '\n';
    }
}

// " 1700000000.086\n": seconds with the milliseconds Prometheus keeps.
void append_timestamp(std::string& out, std::int64_t unix_ns) {
    const std::int64_t ms = (unix_ns + 500000) / 1000000;
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, " %lld.%03d\n", static_cast<long long>(ms / 1000),
                      static_cast<int>(ms % 1000));
    out.append(text, static_cast<std::size_t>(length));
}

class BackfillWriter {
public:
    BackfillWriter(const std::string& maser, std::FILE* out)
        : out_(out), buffer_(new char[kBufferBytes]) {
        for (int m = 0; m < kChannelMetricCount; ++m) {
            std::string& prefix = prefixes_[m];
            prefix = kMetricFamilies[kChannelMetrics[m].family].name;
            append_labels(prefix, maser, kChannelMetrics[m]);
            prefix += ' ';
            as_printed_[m] = !channel_metric_is_code(m) &&
                             kChannelMetrics[m].decimal_exponent == 0 &&
                             kChannelMetrics[m].factor == 1;
        }
    }

    void add(const LogRecord& record) {
        std::string timestamp;
        append_timestamp(timestamp, record.unix_ns);
        std::string value;
        for (int m = 0; m < kChannelMetricCount; ++m) {
            put(prefixes_[m]);
            if (as_printed_[m]) {
                // The field as h2mon printed it reads back as the same number.
                put(record.row.field(channel_metric_row(m)));
            } else {
                value.clear();
                append_sample_value(value, record.values[m], channel_metric_is_code(m));
                put(value);
            }
            put(timestamp);
        }
    }

    bool flush() {
        ok_ = ok_ && std::fwrite(buffer_.get(), 1, used_, out_) == used_;
        used_ = 0;
        return ok_;
    }

private:
    static constexpr std::size_t kBufferBytes = 1 << 20;

    void put(std::string_view text) {
        if (used_ + text.size() > kBufferBytes) {
            flush();
            if (text.size() > kBufferBytes) {
                ok_ = ok_ && std::fwrite(text.data(), 1, text.size(), out_) == text.size();
                return;
            }
        }
        std::memcpy(buffer_.get() + used_, text.data(), text.size());
        used_ += text.size();
    }

    std::FILE* out_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::string prefixes_[kChannelMetricCount];
    bool as_printed_[kChannelMetricCount];
    bool ok_ = true;
};

enum class Backfilled { kDone, kDamaged, kFailed };

// The last timestamp written for each maser, over all its files: a second
// record in the same millisecond (one 86.4 ms MJD step) would be a duplicate
// sample, which promtool refuses; the first is kept.
using LastStamps = std::map<std::string, std::int64_t>;

Backfilled backfill_log(const FollowTarget& target, const RecordTimes& times, LastStamps& last_ms,
                        std::FILE* out) {
    LogReader log;
    std::string error;
    if (!log.open(target.path, error)) {
        std::fprintf(stderr, "h2export: %s: %s\n", target.name.c_str(), error.c_str());
        return Backfilled::kFailed;
    }
    BackfillWriter writer(target.name, out);
    LineReports reports("the counts at the end");
    LogRecord record;
    std::uint64_t records = 0;
    std::uint64_t same_step = 0;
    const auto last = last_ms.emplace(target.name, -1).first;
    const auto bad = [&](LineKind kind) { reports.bad_line(target.name, log.name(), kind); };
    const ReadEnd end = log.read(
        [&](std::string_view line) {
            const LineKind kind = read_log_line(line, times, record);
            if (kind == LineKind::kRecord) {
                const std::int64_t ms = (record.unix_ns + 500000) / 1000000;
                if (ms == last->second) {
                    ++same_step;
                    return true;
                }
                last->second = ms;
                writer.add(record);
                ++records;
            } else if (kind != LineKind::kHeader) {
                bad(kind);
            }
            return true;
        },
        [&] { bad(LineKind::kOverlong); });
    if (!writer.flush()) {
        std::fprintf(stderr, "h2export: writing the output: %s\n", std::strerror(errno));
        return Backfilled::kFailed;
    }
    std::fprintf(stderr,
                 "h2export: %s: %s: %llu records written, %llu lines skipped as bad, %llu "
                 "records skipped as a second one in the same 86.4 ms step\n",
                 target.name.c_str(), log.name().c_str(), static_cast<unsigned long long>(records),
                 static_cast<unsigned long long>(reports.skipped()),
                 static_cast<unsigned long long>(same_step));
    if (end == ReadEnd::kDamaged) {
        std::fprintf(stderr, "h2export: %s: %s; the records before the damage are written\n",
                     target.name.c_str(), log.damage(records + same_step).c_str());
        return Backfilled::kDamaged;
    }
    return Backfilled::kDone;
}

} // namespace

int run_backfill(const ExportOptions& options, std::FILE* out) {
    std::string head;
    append_metadata(head);
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) {
        return kExitFailed;
    }
    // A damaged log still gives what it holds, as do the logs after it; the
    // exit code tells that the history is not whole.
    bool damaged = false;
    // Records stamped after the run (a day's grace) are damaged, not history.
    const RecordTimes times(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count());
    LastStamps last_ms;
    for (const FollowTarget& target : options.follows) {
        const Backfilled result = backfill_log(target, times, last_ms, out);
        if (result == Backfilled::kFailed) {
            return kExitFailed;
        }
        damaged = damaged || result == Backfilled::kDamaged;
    }
    return std::fputs("# EOF\n", out) >= 0 && std::fflush(out) == 0 && !damaged ? kExitDone
                                                                                : kExitFailed;
}
