// One followed maser: its log read as it grows, what is known of it (its
// status for the textfile), and its records handed to the line protocol.
#pragma once

#include "h2export/change_watch.h"
#include "h2export/influx.h"
#include "h2export/line_reports.h"
#include "h2export/log_follower.h"
#include "h2export/maser_status.h"
#include "h2export/options.h"
#include "h2export/textfile.h"
#include "program/stop_signals.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class MaserFeed : public LineSink {
public:
    // A log found after the start is new: all of it is read. Rows stamped
    // after `new_after_ns` that were rotated away before the log is first read
    // are new too.
    MaserFeed(const FollowTarget& target, const ExportOptions& options, InfluxOutput* influx,
              const StopSignals& stops, std::int64_t new_after_ns, bool found_later);

    std::optional<std::int64_t> line(std::string_view text) override;
    bool earlier(std::string_view text) override;
    void overlong() override;
    void consumed(const LogPosition& position) override;
    bool go_on() const override;

    // Reads what is new in the log; true when it is read to its end for now.
    // `folder_changed`: names came, went or were renamed in its folder.
    bool read(bool folder_changed) { return follower_.poll(*this, folder_changed); }

    // Whether the textfile needs writing since the last call (always the
    // first time): records or bad lines read, or the maser gone up or down.
    bool status_changed(SteadyClock::time_point now);

    // Whether one of its files was written to, watched with the keys
    // 2 * index (the file it reads) and 2 * index + 1 (the file at its path).
    bool written(const ChangeWatch::Changes& changes, int index) const;
    // Whether a name in its log's folder that is its log's or a rotated
    // file's came, went or was renamed.
    bool named(const ChangeWatch::Changes& changes) const;

    void textfile_text(SteadyClock::time_point now, std::string& text) const {
        textfile_.render(status_, now, text);
    }
    const MaserStatus& status() const { return status_; }
    const LogFollower& follower() const { return follower_; }
    const std::string& path() const { return target_.path; }
    const std::string& folder() const { return folder_; }

    bool textfile_due = true; // its file is to be written
    bool read_due = false;    // not read to its end: read again without waiting for a change
    FileId watched;           // the file being read, as watched
    FileId watched_log;       // the file at its path, as watched

private:
    void bad(LineKind kind);

    FollowTarget target_;
    MaserStatus status_;
    InfluxOutput* influx_;
    const StopSignals& stops_;
    LogFollower follower_;
    LogRecord record_;
    LineReports reports_;
    TextfileText textfile_;
    std::string folder_;
    std::string file_name_;
    bool changed_ = false;
    bool told_ = false;
    bool was_up_ = false;
};
