// Follows one maser's log as h2mon appends to it: passes on each whole line
// once, in order, through both kinds of log rotation, however late it reads.
//
// - Copy and truncate: the file the follower reads is cut short (or cut and
//   written again, its first row another). What it had not read yet is in the
//   copy beside it, found by its first bytes: the rest is read from there,
//   then the log from its start.
// - Rename and a new file: the path names another file. The file being read
//   stays open and is read to its end; the follower moves on once the new
//   file has rows (until then h2mon may still append to the renamed one),
//   through any rotated file that came in between.
//
// A restart goes on from a saved position: in the log, or when the log was
// rotated meanwhile, in the rotated file that holds it (compressed or not),
// then through every newer rotated file, then the log. The files to read are
// opened when that is planned and read through their descriptors, so
// logrotate shifting names meanwhile takes none away.
//
// A log that is missing, a directory or unreadable is reported once on
// standard error and looked at again on every poll.
#pragma once

#include "h2export/log_file.h"
#include "h2export/log_position.h"
#include "h2export/rotated_logs.h"
#include "telemetry/line_assembler.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

class LineSink {
public:
    virtual ~LineSink() = default;
    // A line of the log, without its line end. Returns the time of the record
    // it is (Unix nanoseconds), nothing when it is none: records place the
    // reading in time, which orders the rotated files.
    virtual std::optional<std::int64_t> line(std::string_view line) = 0;
    virtual void overlong() = 0;
    // A line before the position a restart goes on from, read again for the
    // latest values only (it was passed on in an earlier run). Returns
    // whether it was a record.
    virtual bool earlier(std::string_view) { return false; }
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
    // `label` starts the follower's messages. `resume`, when the file it names
    // is found, is where reading starts; otherwise `start` says where. Rows
    // stamped after `new_after_ns` that were rotated away before the log is
    // first read are read first (see LogPosition::after_ns).
    LogFollower(std::string label, std::string path, StartAt start,
                std::optional<LogPosition> resume = std::nullopt, std::int64_t new_after_ns = 0);

    // Reads whatever is new and passes it to `sink`. False when it stopped
    // before the end of what there is (asked to, or after many files in one
    // go): poll again without waiting for a change. `folder_changed` says
    // that files came, went or were renamed in the log's folder (or that it
    // is not known): then, while the path does not lead to the file being
    // read, the folder is looked at for a newer file.
    bool poll(LineSink& sink, bool folder_changed = true);

    // True when the path led to the file the follower reads last at the last
    // poll. While it does not (the log or its folder renamed, deleted or
    // mounted over), a watch on the folder may see nothing of a new log: look
    // every second.
    bool in_place() const { return in_place_; }
    const std::string& path() const { return path_; }
    // The file being read now, to watch for changes; null while there is none.
    const LogFile* reading() const { return current_.file.get(); }
    // The file at the path at the last look (its id zero while there is none):
    // the one h2mon writes to next, to watch too.
    const FileId& log_id() const { return log_id_; }

    static constexpr std::int64_t kTailBytes = 64 * 1024;

private:
    enum class Read { kToItsEnd, kStopped, kPlannedAgain };

    bool open_first(LineSink& sink);
    void start_at_tail();
    void tell_resumed(const ReadingPlan& plan, const LogPosition& from) const;
    void adopt(ReadingPlan plan, LineAssembler::Inside inside);
    bool read_earlier(LineSink& sink, const HeldLog& file, std::int64_t end, std::int64_t until_ns,
                      bool exact);
    bool later_has_rows();
    Read read_current(LineSink& sink);
    Read read_plain(LineSink& sink);
    Read read_compressed(LineSink& sink);
    bool first_bytes_changed() const;
    void plan_again(const LogPosition& from, bool keep_current);
    void move_on(LineSink& sink);
    void feed(LineSink& sink, std::string_view bytes);
    LogPosition position() const;
    void report(PathState state, const std::string& error);

    std::string label_;
    std::string path_;
    StartAt start_;
    std::optional<LogPosition> resume_;
    std::int64_t after_ns_; // the time of the last record passed on
    HeldLog current_;       // the file being read; its file is null while there is none
    std::int64_t offset_ = 0;
    RotatedReader compressed_; // current_'s content, when it is compressed
    // current_'s first bytes, up to LogPosition::kPrintBytes; once print_
    // covers those, the few that tell its first row.
    mutable std::string known_;
    mutable std::int64_t print_bytes_ = 0;
    mutable std::uint64_t print_ = 0; // content_print() of known_'s first print_bytes_
    // Files to read after the current one, oldest first; the last one the log
    // when queue_ends_with_log_.
    std::deque<HeldLog> queue_;
    bool queue_ends_with_log_ = false;
    LineAssembler assembler_;
    PathState reported_ = PathState::kFile;
    FileId log_id_;
    bool look_beside_ = true; // the folder changed since the last poll
    bool in_place_ = false;
};
