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

namespace {

// FNV-1a of the first `bytes` bytes of `file`; false when they cannot be read.
bool first_bytes_print(const LogFile& file, std::int64_t bytes, std::uint64_t& print) {
    char buffer[LogPosition::kPrintBytes];
    std::int64_t got = 0;
    while (got < bytes) {
        const long part = file.read_at(got, buffer + got, static_cast<std::size_t>(bytes - got));
        if (part <= 0) {
            return false;
        }
        got += part;
    }
    print = 14695981039346656037ULL;
    for (std::int64_t i = 0; i < bytes; ++i) {
        print = (print ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ULL;
    }
    return true;
}

} // namespace

bool LogFollower::holds(const LogPosition& resume) const {
    const std::int64_t size = file_.size();
    if (!file_.is_open() || size < resume.offset) {
        return false;
    }
    if (resume.print_bytes == 0) {
        return resume.offset == 0 || file_.id() == resume.id;
    }
    std::uint64_t print = 0;
    return resume.print_bytes <= LogPosition::kPrintBytes &&
           first_bytes_print(file_, resume.print_bytes, print) && print == resume.print;
}

LogPosition LogFollower::position() const {
    // Known once enough has been read; until then taken again as the file grows.
    const std::int64_t bytes = std::min(offset_, LogPosition::kPrintBytes);
    if (bytes > print_bytes_ && first_bytes_print(file_, bytes, print_)) {
        print_bytes_ = bytes;
    }
    return {file_.id(), offset_ - static_cast<std::int64_t>(assembler_.pending()), print_bytes_,
            print_};
}

bool LogFollower::open_saved(const LogPosition& resume) {
    std::error_code failure;
    const std::filesystem::path log(path_);
    const std::filesystem::path folder = log.has_parent_path() ? log.parent_path() : ".";
    std::string error;
    for (std::filesystem::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        FileId id;
        std::int64_t size = 0;
        const std::string path = it->path().string();
        if (look_at(path, id, size, error) == PathState::kFile && size >= resume.offset &&
            file_.open(path, error) == PathState::kFile && holds(resume)) {
            return true;
        }
    }
    file_.open(path_, error);
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
    print_bytes_ = 0;
    if (!opened_once_ && resume_ && resume_->offset > 0 && holds(*resume_)) {
        offset_ = resume_->offset;
    } else if (!opened_once_ && resume_ && resume_->offset > 0 && open_saved(*resume_)) {
        // The log was rotated (renamed, or copied and truncated) while
        // h2export was stopped: the rest of the file it was reading comes
        // first, then the new log from its start.
        offset_ = resume_->offset;
    } else if (!file_.is_open()) {
        return;
    } else if (!opened_once_ && resume_ && resume_->offset > 0) {
        std::fprintf(stderr,
                     "h2export: %s: the log read before (%lld bytes of it) is neither %s nor "
                     "beside it (deleted, compressed or moved while "
                     "h2export was stopped): reading %s from its start; what was written to "
                     "the old log after those bytes is not read\n",
                     label_.c_str(), static_cast<long long>(resume_->offset), path_.c_str(),
                     path_.c_str());
    } else if (!opened_once_ && start_ == StartAt::kTail && size > kTailBytes) {
        offset_ = size - kTailBytes;
        skip_partial_ = true;
    }
    opened_once_ = true;
    sink.consumed(position());
}

void LogFollower::read_new(LineSink& sink) {
    if (file_.size() < offset_) {
        // Truncated in place (copy and truncate): what follows is new.
        offset_ = 0;
        print_bytes_ = 0;
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
        sink.consumed(position());
        if (at_end || !sink.go_on()) {
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
