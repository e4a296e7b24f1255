#include "h2export/exporter.h"

#include "h2export/change_watch.h"
#include "program/exit_code.h"
#include "program/stop_signals.h"
#include "h2export/influx.h"
#include "h2export/line_reports.h"
#include "h2export/log_follower.h"
#include "h2export/textfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

namespace {

using std::chrono::milliseconds;

std::int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One maser: its log, what is known of it, where its records go.
class MaserFeed : public LineSink {
public:
    // A log found after the start is new: all of it is read.
    MaserFeed(const FollowTarget& target, const ExportOptions& options, InfluxOutput* influx,
              bool found_later = false)
        : target_(target), status_(target.name, stale_after(options)), influx_(influx),
          follower_(target.name, target.path,
                    influx != nullptr || found_later ? StartAt::kBeginning : StartAt::kTail,
                    influx != nullptr ? influx->resume_position(target.name) : std::nullopt) {}

    void line(std::string_view text) override {
        const LineKind kind = read_log_line(text, record_);
        if (kind == LineKind::kRecord) {
            status_.record(record_, SteadyClock::now(), wall_clock_ns());
            if (influx_ != nullptr) {
                influx_->add(target_.name, record_);
            }
            changed_ = true;
        } else if (kind != LineKind::kHeader) {
            bad(kind);
        }
    }
    void overlong() override { bad(LineKind::kOverlong); }
    void consumed(const LogPosition& position) override {
        if (influx_ != nullptr) {
            influx_->consumed(target_.name, position);
        }
    }

    // Reads what is new; true when the textfile needs writing.
    bool poll(SteadyClock::time_point now) {
        changed_ = false;
        follower_.poll(*this);
        const bool up = status_.up(now);
        changed_ = changed_ || up != was_up_;
        was_up_ = up;
        return changed_;
    }

    const MaserStatus& status() const { return status_; }
    const LogFollower& follower() const { return follower_; }
    const std::string& path() const { return target_.path; }

private:
    static std::optional<std::chrono::nanoseconds> stale_after(const ExportOptions& options) {
        if (!options.stale_after_seconds) {
            return std::nullopt;
        }
        return std::chrono::nanoseconds(
            static_cast<std::int64_t>(*options.stale_after_seconds * 1e9));
    }

    void bad(LineKind kind) {
        status_.malformed_line();
        reports_.bad_line(target_.name, target_.path, kind);
        changed_ = true;
    }

    FollowTarget target_;
    MaserStatus status_;
    InfluxOutput* influx_;
    LogFollower follower_;
    LogRecord record_;
    LineReports reports_;
    bool changed_ = false;
    bool was_up_ = false;
};

// A log whose directory cannot be watched is looked at this often.
constexpr milliseconds kMissingRetry{1000};

// The logs of a followed folder: NAME.csv for a maser NAME. Rotated files
// (NAME.csv.1, NAME.csv.2.gz) and anything else are not masers.
std::vector<FollowTarget> logs_in_folder(const std::string& dir) {
    std::vector<FollowTarget> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::path& path = it->path();
        const std::string stem = path.stem().string();
        if (path.extension() == ".csv" && valid_maser_name(stem) && it->is_regular_file(error)) {
            found.push_back({stem, path.string()});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const FollowTarget& a, const FollowTarget& b) { return a.name < b.name; });
    return found;
}

class Exporter {
public:
    explicit Exporter(const ExportOptions& options) : options_(options) {}

    int run() {
        if (!options_.influx.empty()) {
            influx_ = std::make_unique<InfluxOutput>(options_.influx, options_.state);
            std::string error;
            if (!influx_->open(error)) {
                std::fprintf(stderr, "h2export: %s\n", error.c_str());
                return kExitFailed;
            }
        }
        for (const FollowTarget& target : options_.follows) {
            add_maser(target, false);
        }
        find_new_logs(false);
        std::string error;
        if (!stops_.ok(error)) {
            std::fprintf(stderr, "h2export: %s\n", error.c_str());
            return kExitFailed;
        }
        bool first = true;
        bool rewatch = true;
        while (!stops_.requested()) {
            rewatch = find_new_logs(true) || rewatch;
            if (rewatch) {
                all_watched_ = watch_all();
            }
            const auto now = SteadyClock::now();
            const int opened_before = files_opened();
            for (auto& maser : masers_) {
                if (maser->poll(now) || first) {
                    write_textfile(*maser, now);
                }
            }
            commit_influx();
            first = false;
            // A log opened anew (rotated, come back) gets its own watch.
            rewatch = watch_.wait(next_wake(all_watched_)) || !all_watched_ ||
                      files_opened() != opened_before;
        }
        return kExitDone;
    }

private:
    void add_maser(const FollowTarget& target, bool found_later) {
        names_.insert(target.name);
        masers_.push_back(
            std::make_unique<MaserFeed>(target, options_, influx_.get(), found_later));
    }

    // Follows the logs that have appeared in the followed folders; true when
    // there is one. A name given with --follow, or seen before, is not taken
    // again.
    bool find_new_logs(bool found_later) {
        bool added = false;
        for (const std::string& dir : options_.follow_dirs) {
            for (const FollowTarget& target : logs_in_folder(dir)) {
                if (names_.count(target.name) == 0) {
                    std::fprintf(stderr, "h2export: %s: following %s\n", target.name.c_str(),
                                 target.path.c_str());
                    add_maser(target, found_later);
                    added = true;
                }
            }
        }
        return added;
    }

    bool watch_all() {
        bool all = true;
        for (const std::string& dir : options_.follow_dirs) {
            // A name inside the folder: the folder itself is what is watched.
            all = watch_.watch(dir + "/.") && all;
        }
        for (const auto& maser : masers_) {
            all = watch_.watch(maser->path()) && all;
        }
        return all;
    }

    int files_opened() const {
        int opened = 0;
        for (const auto& maser : masers_) {
            opened += maser->follower().opened();
        }
        return opened;
    }

    // Until the next maser goes down, or a missing log's next look.
    std::optional<milliseconds> next_wake(bool all_watched) const {
        std::optional<milliseconds> wake;
        if (!all_watched) {
            wake = kMissingRetry;
        }
        const auto now = SteadyClock::now();
        for (const auto& maser : masers_) {
            if (maser->status().up(now)) {
                const auto left = std::chrono::ceil<milliseconds>(maser->status().down_at() - now);
                wake = wake ? std::min(*wake, left) : left;
            }
        }
        return wake;
    }

    void write_textfile(const MaserFeed& maser, SteadyClock::time_point now) {
        if (options_.textfile_dir.empty()) {
            return;
        }
        std::string error;
        const bool ok = ::write_textfile(options_.textfile_dir, maser.status().name(),
                                         render_textfile(maser.status(), now), error);
        if (ok != textfile_ok_) {
            textfile_ok_ = ok;
            std::fprintf(stderr, ok ? "h2export: textfiles are written again\n" : "h2export: %s\n",
                         error.c_str());
        }
    }

    void commit_influx() {
        if (!influx_) {
            return;
        }
        std::string error;
        const bool ok = influx_->commit(error);
        if (ok != influx_ok_) {
            influx_ok_ = ok;
            std::fprintf(stderr,
                         ok ? "h2export: the line protocol is written again\n" : "h2export: %s\n",
                         error.c_str());
        }
    }

    const ExportOptions& options_;
    StopSignals stops_;
    ChangeWatch watch_{stops_};
    std::unique_ptr<InfluxOutput> influx_;
    std::vector<std::unique_ptr<MaserFeed>> masers_;
    std::set<std::string> names_;
    bool all_watched_ = false;
    bool textfile_ok_ = true;
    bool influx_ok_ = true;
};

} // namespace

int run_follow(const ExportOptions& options) {
    return Exporter(options).run();
}
