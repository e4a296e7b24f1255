#include "h2export/log_follower.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

} // namespace

LogFollower::LogFollower(std::string label, std::string path, StartAt start,
                         std::optional<LogPosition> resume)
    : label_(std::move(label)), path_(std::move(path)), start_(start), resume_(resume) {}

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

bool LogFollower::open_renamed(const LogPosition& resume) {
    std::error_code failure;
    const std::filesystem::path log(path_);
    const std::filesystem::path folder = log.has_parent_path() ? log.parent_path() : ".";
    for (std::filesystem::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        const std::filesystem::directory_entry& entry = *it;
        FileId id;
        std::int64_t size = 0;
        std::string error;
        if (look_at(entry.path().string(), id, size, error) == PathState::kFile &&
            id == resume.id && size >= resume.offset) {
            if (file_.open(entry.path().string(), error) == PathState::kFile &&
                file_.id() == resume.id) {
                return true;
            }
            file_.open(path_, error);
            return false;
        }
    }
    return false;
}

void LogFollower::open_first(LineSink& sink) {
    std::string error;
    const PathState state = file_.open(path_, error);
    if (state != PathState::kFile) {
        report(state, error);
        return;
    }
    report(PathState::kFile, error);
    const std::int64_t size = file_.size();
    offset_ = 0;
    skip_partial_ = false;
    assembler_.reset();
    if (!opened_once_ && resume_ && resume_->id != file_.id() && open_renamed(*resume_)) {
        // The log was rotated by renaming while h2export was stopped: the rest
        // of the file it was reading comes first, then the new log.
        offset_ = resume_->offset;
    } else if (!file_.is_open()) {
        return;
    } else if (!opened_once_ && resume_ && resume_->id == file_.id()) {
        offset_ = resume_->offset <= size ? resume_->offset : 0;
    } else if (!opened_once_ && start_ == StartAt::kTail && size > kTailBytes) {
        offset_ = size - kTailBytes;
        skip_partial_ = true;
    }
    opened_once_ = true;
    sink.consumed({file_.id(), offset_});
}

void LogFollower::read_new(LineSink& sink) {
    if (file_.size() < offset_) {
        // Truncated in place (copy and truncate): what follows is new.
        offset_ = 0;
        skip_partial_ = false;
        assembler_.reset();
    }
    static char buffer[kReadBlock];
    for (;;) {
        const long got = file_.read_at(offset_, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        const bool at_end = static_cast<std::size_t>(got) < sizeof buffer;
        offset_ += got;
        std::string_view bytes(buffer, static_cast<std::size_t>(got));
        if (skip_partial_) {
            const std::size_t end = bytes.find('\n');
            skip_partial_ = end == std::string_view::npos;
            bytes.remove_prefix(skip_partial_ ? bytes.size() : end + 1);
        }
        assembler_.feed(
            bytes, [&](std::string_view line) { sink.line(line); }, [&] { sink.overlong(); });
        sink.consumed({file_.id(), offset_ - static_cast<std::int64_t>(assembler_.pending())});
        if (at_end) {
            // A short read of a file is its end; what comes after is for the next poll.
            return;
        }
    }
}

void LogFollower::move_to(LineSink& sink) {
    file_.close();
    open_first(sink);
    if (file_.is_open()) {
        read_new(sink);
    }
}

void LogFollower::check_path(LineSink& sink) {
    FileId id;
    std::int64_t size = 0;
    std::string error;
    const PathState state = look_at(path_, id, size, error);
    in_place_ = state == PathState::kFile && id == file_.id();
    if (state != PathState::kFile) {
        // The open file may be the log renamed away: keep reading it.
        report(state, error);
        return;
    }
    report(PathState::kFile, error);
    if (id != file_.id() && size > 0) {
        move_to(sink);
    }
}

void LogFollower::poll(LineSink& sink) {
    if (!file_.is_open()) {
        in_place_ = false;
        open_first(sink);
        if (!file_.is_open()) {
            return;
        }
    }
    read_new(sink);
    check_path(sink);
}
