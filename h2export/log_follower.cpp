#include "h2export/log_follower.h"

#include "telemetry/mjd_time.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;
char block[kReadBlock]; // what a poll reads, before it is cut into lines

// The bytes at a plain file's start compared, before each read, with what was
// first read there: a file cut and written again starts with another row (its
// own MJD), though it may have grown past the position read.
constexpr std::size_t kHeadCheckBytes = 64;

// Files moved through in one poll at the most; the rest comes at the next.
constexpr int kMostMoves = 64;

} // namespace

LogFollower::LogFollower(std::string label, std::string path, StartAt start,
                         std::optional<LogPosition> resume, std::int64_t new_after_ns)
    : label_(std::move(label)), path_(std::move(path)), start_(start), resume_(resume),
      after_ns_(new_after_ns) {}

void LogFollower::report(PathState state, const std::string& error) {
    if (state == reported_) {
        return;
    }
    reported_ = state;
    switch (state) {
    case PathState::kFile:
        std::fprintf(stderr, "h2export: %s: %s is back\n", label_.c_str(), path_.c_str());
        break;
    case PathState::kMissing:
        std::fprintf(stderr, "h2export: %s: %s does not exist; waiting for it\n", label_.c_str(),
                     path_.c_str());
        break;
    case PathState::kDirectory:
        std::fprintf(stderr, "h2export: %s: %s is a directory, not a log; waiting for a file\n",
                     label_.c_str(), path_.c_str());
        break;
    case PathState::kUnreadable:
        std::fprintf(stderr, "h2export: %s: %s; waiting for it to become readable\n",
                     label_.c_str(), error.c_str());
        break;
    }
}

LogPosition LogFollower::position() const {
    LogPosition at;
    at.id = current_.id();
    at.offset = offset_ - static_cast<std::int64_t>(assembler_.pending());
    at.inside = assembler_.inside();
    at.after_ns = after_ns_;
    // Known once enough has been read; until then taken again as the file
    // grows. Then only the bytes the next reads compare are kept.
    const auto bytes = std::min(offset_, static_cast<std::int64_t>(known_.size()));
    if (print_bytes_ < LogPosition::kPrintBytes && bytes != print_bytes_) {
        print_ = content_print(std::string_view(known_).substr(0, static_cast<std::size_t>(bytes)));
        print_bytes_ = bytes;
        if (print_bytes_ == LogPosition::kPrintBytes) {
            known_.resize(kHeadCheckBytes);
            known_.shrink_to_fit();
        }
    }
    at.print_bytes = print_bytes_;
    at.print = print_;
    return at;
}

void LogFollower::feed(LineSink& sink, std::string_view bytes) {
    assembler_.feed(
        bytes,
        [&](std::string_view line) {
            if (const std::optional<std::int64_t> time = sink.line(line)) {
                after_ns_ = *time;
            }
        },
        [&] { sink.overlong(); });
}

void LogFollower::adopt(ReadingPlan plan, LineAssembler::Inside inside) {
    compressed_.close();
    current_ = std::move(plan.files.front());
    plan.files.pop_front();
    queue_ = std::move(plan.files);
    queue_ends_with_log_ = plan.ends_with_log;
    offset_ = plan.first_offset;
    known_ = current_.head.substr(0, static_cast<std::size_t>(LogPosition::kPrintBytes));
    // Kept in known_ as far as needed, read again for a plan.
    current_.head.clear();
    current_.head.shrink_to_fit();
    print_bytes_ = -1;
    std::string error;
    if (current_.compressed && !compressed_.open(current_, offset_, error)) {
        std::fprintf(stderr, "h2export: %s: %s; going on without it\n", label_.c_str(),
                     error.c_str());
    } else if (!current_.compressed && !plan.holder_is_log) {
        // A copy shorter than the position holds nothing more: the rest was
        // read from the log before it was cut. (The log itself shorter than
        // the position was cut since: the next read finds that out.)
        offset_ = std::min(offset_, std::max<std::int64_t>(current_.file->size(), 0));
    }
    if (offset_ > 0) {
        assembler_.resume_inside(inside);
    } else {
        assembler_.reset();
    }
}

void LogFollower::tell_resumed(const ReadingPlan& plan, const LogPosition& from) const {
    if (!plan.holder_found) {
        std::fprintf(stderr,
                     "h2export: %s: the log read before (%lld bytes of it) is neither %s nor "
                     "a file rotated from it beside it (deleted or moved while h2export was "
                     "stopped): reading on with what came after it (%s from its start); what "
                     "was written to the old log after those bytes is not read\n",
                     label_.c_str(), static_cast<long long>(from.offset), path_.c_str(),
                     path_.c_str());
        return;
    }
    const std::size_t rotated = plan.files.size() - (plan.ends_with_log ? 1 : 0);
    if (rotated == 0) {
        return;
    }
    std::string told = plan.files.front().path;
    if (plan.first_offset > 0) {
        told += " from byte " + std::to_string(plan.first_offset);
    }
    for (std::size_t i = 1; i < rotated; ++i) {
        told += ", then " + plan.files[i].path;
    }
    std::fprintf(stderr,
                 "h2export: %s: %s was rotated while h2export was stopped: reading on in %s, "
                 "then %s\n",
                 label_.c_str(), path_.c_str(), told.c_str(), path_.c_str());
}

namespace {

// The last `bytes` of `file`'s content before byte `end` (its end when -1),
// and where they start.
std::string content_before(const HeldLog& file, std::int64_t end, std::int64_t bytes,
                           std::int64_t& start) {
    std::string tail;
    start = 0;
    if (!file.compressed) {
        end = end < 0 ? file.file->size() : end;
        start = std::max<std::int64_t>(0, end - bytes);
        tail.resize(static_cast<std::size_t>(end - start));
        const long got = file.file->read_at(start, tail.data(), tail.size());
        tail.resize(static_cast<std::size_t>(std::max(got, 0L)));
        return tail;
    }
    // Compressed: read through, keeping the last bytes.
    RotatedReader reader;
    std::string error;
    if (!reader.open(file, 0, error)) {
        return tail;
    }
    for (std::int64_t at = 0; end < 0 || at < end;) {
        const auto want = static_cast<std::size_t>(
            end < 0 ? kReadBlock : std::min<std::int64_t>(kReadBlock, end - at));
        const long got = reader.read(block, want);
        if (got <= 0) {
            break;
        }
        at += got;
        tail.append(block, static_cast<std::size_t>(got));
        if (static_cast<std::int64_t>(tail.size()) > 2 * bytes) {
            const std::size_t drop = tail.size() - static_cast<std::size_t>(bytes);
            tail.erase(0, drop);
            start += static_cast<std::int64_t>(drop);
        }
    }
    return tail;
}

} // namespace

// The records of `file` before byte `end` (its end when -1) and not after
// `until_ns`, as many as a start at the tail reads, for the latest values at
// a restart; with `exact`, only when the last of them is stamped `until_ns`
// (the file holds the last record read). False when none was passed on.
bool LogFollower::read_earlier(LineSink& sink, const HeldLog& file, std::int64_t end,
                               std::int64_t until_ns, bool exact) {
    std::int64_t start = 0;
    const std::string tail = content_before(file, end, kTailBytes, start);
    LineAssembler earlier;
    if (start > 0) {
        earlier.resume_inside(LineAssembler::Inside::kOverlong);
    }
    std::vector<std::string_view> lines;
    std::int64_t last_ns = -1;
    earlier.feed(
        tail,
        [&](std::string_view line) {
            std::int64_t ns = 0;
            const bool stamped = mjd_unix_ns(line.substr(0, line.find(',')), &ns);
            if (until_ns < 0 || (stamped && ns <= until_ns)) {
                lines.push_back(line);
                last_ns = stamped ? ns : last_ns;
            }
        },
        [] {});
    bool found = false;
    if (!exact || last_ns == until_ns) {
        for (std::string_view line : lines) {
            found = sink.earlier(line) || found;
        }
    }
    return found;
}

bool LogFollower::open_first(LineSink& sink) {
    if (!resume_ && start_ == StartAt::kTail) {
        HeldLog log;
        std::string error;
        const PathState state = hold_log(path_, log, error);
        report(state, error);
        if (state != PathState::kFile) {
            return false;
        }
        const std::int64_t size = log.file->size();
        if (size > kTailBytes) {
            ReadingPlan plan;
            plan.files.push_back(std::move(log));
            plan.first_offset = size - kTailBytes;
            plan.ends_with_log = true;
            plan.holder_is_log = true;
            // Somewhere in a line: the reading starts after its end.
            adopt(std::move(plan), LineAssembler::Inside::kOverlong);
            in_place_ = true;
            sink.consumed(position());
            return true;
        }
    }
    LogPosition from;
    from.after_ns = after_ns_;
    if (resume_) {
        from = *resume_;
    }
    ReadingPlan plan = plan_reading(path_, from);
    FileId id;
    std::int64_t size = 0;
    std::string error;
    const PathState state = look_at(path_, id, size, error);
    log_id_ = state == PathState::kFile ? id : FileId{};
    report(state, error);
    if (plan.files.empty()) {
        return false;
    }
    if (resume_) {
        tell_resumed(plan, from);
        after_ns_ = from.after_ns;
    }
    const bool resumed_within = resume_ && plan.holder_found && plan.first_offset > 0;
    const bool resumed = resume_.has_value();
    resume_.reset();
    adopt(std::move(plan), from.inside);
    // The latest values at once: the records before the position, or when it
    // is at the start of a file, those of the file the last record read is in.
    if (resumed &&
        !(resumed_within && read_earlier(sink, current_, offset_, from.after_ns, false)) &&
        from.after_ns > 0) {
        if (std::optional<HeldLog> file = file_of_time(path_, from.after_ns)) {
            read_earlier(sink, *file, -1, from.after_ns, true);
        }
    }
    sink.consumed(position());
    return true;
}

bool LogFollower::first_bytes_changed() const {
    const std::size_t bytes = std::min(known_.size(), kHeadCheckBytes);
    char first[kHeadCheckBytes];
    return bytes > 0 && (current_.file->read_at(0, first, bytes) != static_cast<long>(bytes) ||
                         std::memcmp(first, known_.data(), bytes) != 0);
}

void LogFollower::plan_again(const LogPosition& from, bool keep_current) {
    std::optional<HeldLog> current;
    std::string error;
    if (keep_current && read_head(current_, error)) {
        current = std::move(current_);
    }
    compressed_.close();
    current_ = HeldLog{};
    queue_.clear();
    ReadingPlan plan = plan_reading(path_, from, std::move(current));
    if (!plan.holder_found) {
        std::fprintf(stderr,
                     "h2export: %s: %s was cut short with %lld bytes of it read, and no copy of "
                     "it lies beside it: reading it from its start; rows written to it after "
                     "those bytes and before the cut are not read\n",
                     label_.c_str(), path_.c_str(), static_cast<long long>(from.offset));
    }
    if (!plan.files.empty()) {
        adopt(std::move(plan), from.inside);
    }
}

LogFollower::Read LogFollower::read_plain(LineSink& sink) {
    // Cut (copytruncate), maybe written again past the position: its first
    // row is another. Cut and not written again past it: it is shorter.
    if (first_bytes_changed()) {
        plan_again(position(), false);
        return Read::kPlannedAgain;
    }
    if (offset_ == 0 && known_.empty() && current_.file->size() > 0) {
        // The first rows of a file nothing was known of: rows written before
        // them may have been rotated away meanwhile.
        plan_again(position(), true);
        return Read::kPlannedAgain;
    }
    for (bool first = true;; first = false) {
        const long got = current_.file->read_at(offset_, block, sizeof block);
        if (got <= 0) {
            const std::int64_t size = current_.file->size();
            if (first && size >= 0 && size < offset_) {
                plan_again(position(), false);
                return Read::kPlannedAgain;
            }
            return Read::kToItsEnd;
        }
        const auto bytes = static_cast<std::size_t>(got);
        if (static_cast<std::int64_t>(known_.size()) == offset_ &&
            offset_ < LogPosition::kPrintBytes) {
            known_.append(block,
                          std::min<std::size_t>(
                              bytes, static_cast<std::size_t>(LogPosition::kPrintBytes - offset_)));
        }
        offset_ += got;
        feed(sink, std::string_view(block, bytes));
        sink.consumed(position());
        if (bytes < sizeof block) {
            // A short read of a file is its end; what comes after is for the next poll.
            return Read::kToItsEnd;
        }
        if (!sink.go_on()) {
            return Read::kStopped;
        }
    }
}

LogFollower::Read LogFollower::read_compressed(LineSink& sink) {
    long got = 0;
    while (compressed_.is_open() && (got = compressed_.read(block, sizeof block)) > 0) {
        offset_ += got;
        feed(sink, std::string_view(block, static_cast<std::size_t>(got)));
        sink.consumed(position());
        if (!sink.go_on()) {
            return Read::kStopped;
        }
    }
    if (got < 0) {
        std::fprintf(stderr,
                     "h2export: %s: %s: damaged after byte %lld: %s; going on with what follows\n",
                     label_.c_str(), current_.path.c_str(), static_cast<long long>(offset_),
                     compressed_.error().c_str());
    }
    compressed_.close();
    return Read::kToItsEnd;
}

LogFollower::Read LogFollower::read_current(LineSink& sink) {
    return current_.compressed ? read_compressed(sink) : read_plain(sink);
}

bool LogFollower::later_has_rows() {
    FileId id;
    std::int64_t size = 0;
    std::string error;
    const PathState state = look_at(path_, id, size, error);
    log_id_ = state == PathState::kFile ? id : FileId{};
    const bool log_queued = !queue_.empty() && queue_ends_with_log_;
    in_place_ = state == PathState::kFile && id == (log_queued ? queue_.back() : current_).id();
    // The open file may be the log renamed away: keep reading it.
    report(state, error);
    if (queue_.size() > 1 || (!queue_.empty() && !queue_ends_with_log_)) {
        return true; // a rotated file: it has rows
    }
    if (!queue_.empty()) {
        // Only the log is next: h2mon writes to the file being read until the
        // log has rows, or until the path leads to yet another file that has
        // (the log queued deleted or renamed away while still empty).
        const HeldLog& log = queue_.front();
        if (log.file->size() > 0) {
            return true;
        }
        if (state == PathState::kFile && id != log.id() && size > 0) {
            queue_ends_with_log_ = false;
            return true;
        }
        return false;
    }
    if (state == PathState::kFile && id != current_.id() && size > 0) {
        return true;
    }
    if (look_beside_ && !(state == PathState::kFile && id == current_.id())) {
        // Renamed away, and maybe the next log too before it was read: a newer
        // rotated file with rows comes next, wherever the path leads now.
        look_beside_ = false;
        plan_again(position(), true);
        return current_.file && !queue_.empty() &&
               (queue_.size() > 1 || !queue_ends_with_log_ || queue_.front().file->size() > 0);
    }
    return false;
}

void LogFollower::move_on(LineSink& sink) {
    if (queue_.empty()) {
        // The path leads to another file with rows: whatever came between.
        plan_again(position(), true);
        return;
    }
    // Nothing more comes to this file: its last line counts without its end.
    if (assembler_.pending() > 0) {
        feed(sink, "\n");
    }
    ReadingPlan rest;
    rest.files = std::move(queue_);
    rest.ends_with_log = queue_ends_with_log_;
    adopt(std::move(rest), LineAssembler::Inside::kLine);
    sink.consumed(position());
}

bool LogFollower::poll(LineSink& sink, bool folder_changed) {
    look_beside_ = folder_changed;
    if (!current_.file && !open_first(sink)) {
        return true;
    }
    for (int move = 0; move < kMostMoves && current_.file; ++move) {
        // Asked before the file is read to its end: once a later file has
        // rows, h2mon writes no more to this one.
        const bool later = later_has_rows();
        const Read read = read_current(sink);
        if (read == Read::kStopped) {
            return false;
        }
        if (read == Read::kToItsEnd) {
            if (!later) {
                return true;
            }
            if (!sink.go_on()) {
                return false;
            }
            move_on(sink);
        }
    }
    return !current_.file;
}
