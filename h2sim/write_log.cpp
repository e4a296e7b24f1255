#include "h2sim/write_log.h"

#include "h2sim/simulated_log.h"
#include "telemetry/log_row.h"
#include "telemetry/mjd_time.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

// Progress is shown once the writing has taken this long, and then as often.
constexpr auto kProgressEvery = std::chrono::seconds(1);
// Rows written between looks at the clock.
constexpr std::uint64_t kRowsPerLook = 4096;

LogPlan plan_of(const Options& options) {
    LogPlan plan;
    plan.span_days = options.span_seconds / kSecondsPerDay;
    plan.interval_seconds = options.interval_seconds;
    plan.seed = options.seed;
    plan.scenario = options.scenario;
    plan.jitter = options.jitter;
    plan.start_mjd = options.start_mjd;
    if (plan.start_mjd < 0) {
        // The span up to now, to the second: a log that backfills today.
        const double now = std::floor(static_cast<double>(std::time(nullptr)));
        plan.start_mjd = mjd_of_unix_seconds(now - options.span_seconds);
    }
    return plan;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

bool write_simulated_log(const Options& options, std::string& error) {
    const bool to_stdout = options.write_log == "-";
    std::unique_ptr<std::FILE, FileCloser> owned(
        to_stdout ? nullptr : std::fopen(options.write_log.c_str(), "wb"));
    std::FILE* out = to_stdout ? stdout : owned.get();
    if (out == nullptr) {
        error = "cannot write " + options.write_log + ": " + std::strerror(errno);
        return false;
    }
    SimulatedLog log(plan_of(options));
    std::string text;
    if (options.header) {
        text = csv_header() + "\n";
    }
    const Clock::time_point started = Clock::now();
    Clock::time_point next_progress = started + kProgressEvery;
    std::string row;
    while (true) {
        row.clear();
        const bool more = log.next(row);
        if (more) {
            text += row;
            text += '\n';
        }
        if (text.size() >= (1 << 16) || !more) {
            if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
                error = "cannot write " + options.write_log + ": " + std::strerror(errno);
                return false;
            }
            text.clear();
        }
        if (!more) {
            break;
        }
        if (log.made() % kRowsPerLook == 0 && Clock::now() >= next_progress) {
            next_progress += kProgressEvery;
            std::fprintf(stderr, "h2sim: %llu of %llu records (%.0f %%)\n",
                         static_cast<unsigned long long>(log.made()),
                         static_cast<unsigned long long>(log.records()),
                         100.0 * static_cast<double>(log.made()) /
                             static_cast<double>(log.records()));
        }
    }
    if (std::fflush(out) != 0) {
        error = "cannot write " + options.write_log + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
