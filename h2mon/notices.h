// Notices: what the operator must hear of while the recording goes on (a log
// that cannot be written, a maser that gives no frame). One line each on
// standard error, so that standard output stays the record stream (the CSV
// header and the records) and a service manager's journal gets every notice.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class ConsoleWriter;
class StopSignals;

// Where notices go: a stream, or, when that is a console, its console writer
// (so that a console holding its output never holds the loop for a notice).
struct NoticeStream {
    NoticeStream(std::FILE* stream) : stream(stream) {} // NOLINT: any stream takes notices
    NoticeStream(std::FILE* stream, ConsoleWriter* console, const StopSignals* stops)
        : stream(stream), console(console), stops(stops) {}

    // One notice: `line` without its line end, written and flushed with one.
    void print(const std::string& line) const;

    std::FILE* stream;
    ConsoleWriter* console = nullptr;
    // Ends a wait for a reader of the stream that takes nothing.
    const StopSignals* stops = nullptr;
};

// A time of day as the notices give it: "2026-12-10 23:01:10 UTC", from
// milliseconds since the Unix epoch.
std::string notice_time(std::int64_t unix_ms);

// The writes to the log file, as far as the operator must hear of them: the
// first failure of a run of failed writes, and the first success after it with
// the number of rows the log missed meanwhile.
class LogHealth {
public:
    LogHealth(std::string path, NoticeStream notices) : path_(std::move(path)), notices_(notices) {}

    // The log could not be opened: `error` is the system's error number.
    void open_failed(int error);
    // One row written (`error` 0) or not (the system's error number).
    void row_written(int error);

    bool failing() const { return failing_; }
    std::int64_t missed() const { return missed_; }

private:
    std::string path_;
    NoticeStream notices_;
    bool failing_ = false;
    std::int64_t missed_ = 0;
};

// What came instead of a frame.
enum class Miss { kNoAnswer, kShortAnswer, kNotAFrame };

// Watches for a maser that gives no frame: when none has come for the watch's
// limit, one notice naming the port, since when, and what came instead; when
// frames come again, one notice saying so. Nothing in between, so a maser that
// is off for a week costs two lines.
class FrameWatch {
public:
    // The limit is 30 s or three reading intervals, whichever is longer.
    FrameWatch(std::string port, std::int32_t interval_ms, NoticeStream notices);

    // The watch starts (the run begins): `now_ms` on a monotonic clock in
    // milliseconds, `unix_ms` the wall clock at that moment.
    void start(std::int64_t now_ms, std::int64_t unix_ms);
    void frame(std::int64_t now_ms, std::int64_t unix_ms);
    void miss(Miss kind, std::int64_t now_ms);

    std::int64_t limit_ms() const { return limit_ms_; }

private:
    std::string port_;
    std::int64_t limit_ms_;
    NoticeStream notices_;
    std::int64_t last_frame_ms_ = 0; // the last frame, or the start
    std::int64_t last_frame_unix_ms_ = 0;
    unsigned missed_kinds_ = 0; // bits of Miss seen since the last frame
    bool reported_ = false;
};
