#include "h2export/log_follower.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;
char block[kReadBlock]; // what a poll reads, before it is cut into lines

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

// content_print() of the first `bytes` bytes of `file`; false when they cannot be read.
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
    print = content_print(std::string_view(buffer, static_cast<std::size_t>(bytes)));
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
    if (!backlog_.empty()) {
        return backlog_.front().at(
            backlog_offset_ - static_cast<std::int64_t>(assembler_.pending()), assembler_.inside());
    }
    // Known once enough has been read; until then taken again as the file grows.
    const std::int64_t bytes = std::min(offset_, LogPosition::kPrintBytes);
    if (bytes > print_bytes_ && first_bytes_print(file_, bytes, print_)) {
        print_bytes_ = bytes;
    }
    return {file_.id(), offset_ - static_cast<std::int64_t>(assembler_.pending()), print_bytes_,
            print_, assembler_.inside()};
}

// The log was rotated (renamed, or copied and truncated, and maybe
// compressed, more than once) while h2export was stopped: the rest of the file
// it was reading comes first, then each newer rotated file, then the log. The
// newest rotated file, when it is not compressed, is followed as the open file:
// h2mon may still be appending to it.
bool LogFollower::resume_rotated(const LogPosition& resume) {
    std::vector<RotatedFile> chain = rotated_since(path_, resume);
    if (chain.empty()) {
        return false;
    }
    std::string error;
    std::string told = chain.front().path + " from byte " + std::to_string(resume.offset);
    for (std::size_t i = 1; i < chain.size(); ++i) {
        told += ", then " + chain[i].path;
    }
    std::fprintf(stderr,
                 "h2export: %s: %s was rotated while h2export was stopped: reading on in %s, "
                 "then %s\n",
                 label_.c_str(), path_.c_str(), told.c_str(), path_.c_str());
    const bool follow_last = !chain.back().compressed &&
                             file_.open(chain.back().path, error) == PathState::kFile &&
                             file_.id() == chain.back().id;
    if (follow_last) {
        chain.pop_back();
        offset_ = chain.empty() ? resume.offset : 0;
    } else {
        file_.open(path_, error);
    }
    backlog_.assign(chain.begin(), chain.end());
    backlog_offset_ = resume.offset;
    return true;
}

bool LogFollower::read_backlog(LineSink& sink) {
    const auto line = [&](std::string_view text) { sink.line(text); };
    const auto overlong = [&] { sink.overlong(); };
    while (!backlog_.empty()) {
        const RotatedFile& file = backlog_.front();
        std::string error;
        long got = 0;
        if (!backlog_reader_.is_open() &&
            !backlog_reader_.open(file.path, backlog_offset_, error)) {
            std::fprintf(stderr, "h2export: %s: %s; going on without it\n", label_.c_str(),
                         error.c_str());
            got = -1;
        }
        while (got >= 0 && (got = backlog_reader_.read(block, sizeof block)) > 0) {
            backlog_offset_ += got;
            assembler_.feed(std::string_view(block, static_cast<std::size_t>(got)), line, overlong);
            sink.consumed(position());
            if (!sink.go_on()) {
                return false; // the rest at the next poll
            }
        }
        if (got < 0 && !backlog_reader_.error().empty()) {
            std::fprintf(stderr,
                         "h2export: %s: %s: damaged after byte %lld: %s; going on with what "
                         "follows\n",
                         label_.c_str(), file.path.c_str(), static_cast<long long>(backlog_offset_),
                         backlog_reader_.error().c_str());
        }
        backlog_reader_.close();
        // A rotated file's last line gets no line end any more: it counts without.
        if (got == 0 && assembler_.pending() > 0) {
            assembler_.feed("\n", line, overlong);
        }
        assembler_.reset();
        backlog_.pop_front();
        backlog_offset_ = 0;
        sink.consumed(position());
    }
    return true;
}

void LogFollower::open_first(LineSink& sink) {
    std::string error;
    const PathState state = file_.open(path_, error);
    report(state, error);
    offset_ = 0;
    assembler_.reset();
    print_bytes_ = 0;
    const bool resuming = !opened_once_ && resume_ && resume_->offset > 0;
    if (resuming && state == PathState::kFile && holds(*resume_)) {
        offset_ = resume_->offset;
        assembler_.resume_inside(resume_->inside);
    } else if (resuming && resume_rotated(*resume_)) {
        assembler_.resume_inside(resume_->inside);
    } else if (state != PathState::kFile) {
        return;
    } else if (resuming) {
        std::fprintf(stderr,
                     "h2export: %s: the log read before (%lld bytes of it) is neither %s nor "
                     "a file rotated from it beside it (deleted or moved while h2export was "
                     "stopped): reading %s from its start; what was written to the old log "
                     "after those bytes is not read\n",
                     label_.c_str(), static_cast<long long>(resume_->offset), path_.c_str(),
                     path_.c_str());
    } else if (!opened_once_ && start_ == StartAt::kTail && file_.size() > kTailBytes) {
        offset_ = file_.size() - kTailBytes;
        // Somewhere in a line: the reading starts after its end.
        assembler_.resume_inside(LineAssembler::Inside::kOverlong);
    }
    opened_once_ = true;
    if (file_.is_open() || !backlog_.empty()) {
        sink.consumed(position());
    }
}

void LogFollower::read_new(LineSink& sink) {
    if (file_.size() < offset_) {
        // Truncated in place (copy and truncate): what follows is new.
        offset_ = 0;
        print_bytes_ = 0;
        assembler_.reset();
    }
    for (;;) {
        const long got = file_.read_at(offset_, block, sizeof block);
        if (got <= 0) {
            return;
        }
        const bool at_end = static_cast<std::size_t>(got) < sizeof block;
        offset_ += got;
        assembler_.feed(
            std::string_view(block, static_cast<std::size_t>(got)),
            [&](std::string_view line) { sink.line(line); }, [&] { sink.overlong(); });
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
    if (!file_.is_open() && backlog_.empty()) {
        in_place_ = false;
        open_first(sink);
    }
    if (!backlog_.empty() && !read_backlog(sink)) {
        return;
    }
    if (file_.is_open()) {
        read_new(sink);
        check_path(sink);
    }
}
