#include "h2export/maser_feed.h"

#include "h2export/log_folder.h"
#include "h2export/rotated_logs.h"

#include <chrono>
#include <filesystem>

namespace {

std::int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::chrono::nanoseconds> stale_after(const ExportOptions& options) {
    if (!options.stale_after_seconds) {
        return std::nullopt;
    }
    return std::chrono::nanoseconds(static_cast<std::int64_t>(*options.stale_after_seconds * 1e9));
}

} // namespace

MaserFeed::MaserFeed(const FollowTarget& target, const ExportOptions& options, InfluxOutput* influx,
                     const StopSignals& stops, std::int64_t new_after_ns, bool found_later)
    : target_(target), status_(target.name, stale_after(options)), influx_(influx), stops_(stops),
      follower_(target.name, target.path,
                influx != nullptr || found_later ? StartAt::kBeginning : StartAt::kTail,
                influx != nullptr ? influx->resume_position(target.name) : std::nullopt,
                new_after_ns),
      textfile_(target.name), folder_(folder_of(target.path)),
      file_name_(std::filesystem::path(target.path).filename().string()) {
    // Known from now on, read or not: a restart finds what was written to
    // its log meanwhile, rotated or not.
    if (influx != nullptr && !influx->resume_position(target.name)) {
        LogPosition start;
        start.after_ns = new_after_ns;
        influx->consumed(target.name, start);
    }
}

std::optional<std::int64_t> MaserFeed::line(std::string_view text) {
    const std::int64_t now_ns = wall_clock_ns();
    const LineKind kind = read_log_line(text, RecordTimes(now_ns), record_);
    if (kind == LineKind::kRecord) {
        status_.record(record_, SteadyClock::now(), now_ns);
        if (influx_ != nullptr) {
            influx_->add(target_.name, record_);
        }
        changed_ = true;
        return record_.unix_ns;
    }
    if (kind != LineKind::kHeader) {
        bad(kind);
    }
    return std::nullopt;
}

// Records read again at a restart show the latest values; they went out before.
bool MaserFeed::earlier(std::string_view text) {
    const std::int64_t now_ns = wall_clock_ns();
    if (read_log_line(text, RecordTimes(now_ns), record_) != LineKind::kRecord) {
        return false;
    }
    status_.record(record_, SteadyClock::now(), now_ns);
    return true;
}

void MaserFeed::overlong() {
    bad(LineKind::kOverlong);
}

void MaserFeed::consumed(const LogPosition& position) {
    if (influx_ != nullptr) {
        influx_->consumed(target_.name, position);
    }
}

// A long log being caught up stops between batches when asked to: the loop
// then writes the batch in hand with its positions and ends.
bool MaserFeed::go_on() const {
    return !stops_.requested();
}

bool MaserFeed::status_changed(SteadyClock::time_point now) {
    const bool up = status_.up(now);
    const bool changed = changed_ || !told_ || up != was_up_;
    changed_ = false;
    told_ = true;
    was_up_ = up;
    return changed;
}

bool MaserFeed::written(const ChangeWatch::Changes& changes, int index) const {
    return changes.files.count(2 * index) != 0 || changes.files.count(2 * index + 1) != 0;
}

bool MaserFeed::named(const ChangeWatch::Changes& changes) const {
    for (const auto& [folder, name] : changes.names) {
        if (folder == folder_ && (name == file_name_ || named_after(name, file_name_))) {
            return true;
        }
    }
    return false;
}

void MaserFeed::bad(LineKind kind) {
    status_.malformed_line();
    reports_.bad_line(target_.name, target_.path, kind);
    changed_ = true;
}
