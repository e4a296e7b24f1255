// Follows one maser's log as h2mon appends to it: passes on each whole line
// once, and keeps going through both kinds of log rotation.
//
// - Copy and truncate: the file shrinks below the position read; reading
//   starts again at its beginning.
// - Rename and a new file: the path names another file. The old file stays
//   open and is read to its end; the follower moves to the new file once that
//   has data. So rows that h2mon, which keeps the file it opened, goes on
//   appending to the renamed file are still read until h2mon is restarted.
//
// A log that is missing, a directory or unreadable is reported once on
// standard error and looked at again on every poll.
#pragma once

#include "h2export/log_file.h"
#include "telemetry/line_assembler.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A place in a log: the file, and the byte after the last whole line read.
// The file is told apart by its first bytes (up to kPrintBytes, no more than
// were read), since a file number is reused once a file is deleted and a
// copied or truncated log keeps none of its own.
struct LogPosition {
    FileId id;
    std::int64_t offset = 0;
    std::int64_t print_bytes = 0; // 0: not known; the file is known by its id alone
    std::uint64_t print = 0;      // FNV-1a of the file's first print_bytes bytes

    static constexpr std::int64_t kPrintBytes = 4096;
};

class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void line(std::string_view line) = 0;
    virtual void overlong() = 0;
    // Every whole line before `position` has been passed on.
    virtual void consumed(const LogPosition& position) = 0;
    // Asked after each block of a long read: false stops reading there (a stop
    // was requested while a long log is caught up); the rest comes next poll.
    virtual bool go_on() const { return true; }
};

enum class StartAt {
    kBeginning,
    kTail, // the last few records, enough to show the latest values at once
};

class LogFollower {
public:
    // `label` starts the follower's messages. `resume`, when it names the file
    // found at `path`, is where reading starts; otherwise `start` says where.
    LogFollower(std::string label, std::string path, StartAt start,
                std::optional<LogPosition> resume = std::nullopt);

    // Reads whatever is new and passes it to `sink`.
    void poll(LineSink& sink);

    // True while there is no file to read: the path is missing or no file.
    bool waiting() const { return !file_.is_open(); }
    // True when the path led to the file being read at the last poll. While it
    // does not (the log or its folder renamed, deleted or mounted over), a
    // watch on the folder may see nothing of a new log: look every second.
    bool in_place() const { return in_place_; }
    const std::string& path() const { return path_; }

    static constexpr std::int64_t kTailBytes = 64 * 1024;

private:
    void open_first(LineSink& sink);
    bool holds(const LogPosition& resume) const;
    bool open_saved(const LogPosition& resume);
    LogPosition position() const;
    void read_new(LineSink& sink);
    void check_path(LineSink& sink);
    void move_to(LineSink& sink);
    void report(PathState state, const std::string& error);

    std::string label_;
    std::string path_;
    StartAt start_;
    std::optional<LogPosition> resume_;
    bool opened_once_ = false;
    LogFile file_;
    std::int64_t offset_ = 0;
    mutable std::int64_t print_bytes_ = 0; // of the open file, once known
    mutable std::uint64_t print_ = 0;
    bool skip_partial_ = false; // started inside a line: drop bytes up to its end
    LineAssembler assembler_;
    PathState reported_ = PathState::kFile;
    bool in_place_ = false;
};
