// Notices: what the operator must hear of while the recording goes on (a log
// that cannot be written, a maser that gives no frame). One line each on
// standard error, so that standard output stays the record stream (the CSV
// header and the records) and a service manager's journal gets every notice.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Writes `line` and a line end to `stream` and flushes it.
void print_notice(std::FILE* stream, const std::string& line);

// A time of day as the notices give it: "2026-12-10 23:01:10 UTC", from
// milliseconds since the Unix epoch.
std::string notice_time(std::int64_t unix_ms);

// The writes to the log file, as far as the operator must hear of them: the
// first failure of a run of failed writes, and the first success after it with
// the number of rows the log missed meanwhile.
class LogHealth {
public:
    LogHealth(std::string path, std::FILE* notices) : path_(std::move(path)), notices_(notices) {}

    // The log could not be opened: `error` is the system's error number.
    void open_failed(int error);
    // One row written (`error` 0) or not (the system's error number).
    void row_written(int error);

    bool failing() const { return failing_; }
    std::int64_t missed() const { return missed_; }

private:
    std::string path_;
    std::FILE* notices_;
    bool failing_ = false;
    std::int64_t missed_ = 0;
};
