// The masers' files for node_exporter's textfile collector (and
// windows_exporter, which reads the same format): Prometheus' text format, no
// timestamps. The folder is shared with other collectors, so h2export touches
// only files plainly its own: h2mon-NAME.prom, and .h2mon-NAME.prom.tmp while
// it replaces one (node_exporter reads *.prom only).
#pragma once

#include "h2export/maser_status.h"

#include <string>
#include <vector>

// A maser's file: its text at a moment. Its channel series are there only
// while the maser is up. The series' names and labels are made once; the
// families' help, the same in every maser's file, once for all.
class TextfileText {
public:
    explicit TextfileText(const std::string& maser);

    // The text for `maser` (the maser this was made for) at `now`, into `text`.
    void render(const MaserStatus& maser, SteadyClock::time_point now, std::string& text) const;

private:
    // Each series up to its value.
    std::string build_info_; // the whole sample, value and all
    std::string up_;
    std::string last_time_;
    std::string malformed_;
    std::vector<std::string> channels_; // in the order the file lists them
};

// "h2mon-NAME.prom": the name of a maser's file in the folder.
std::string textfile_name(const std::string& maser);

// The textfile folder. Missing (node_exporter not installed yet), it is
// waited for while everything else goes on; files are written once it is
// there. Its troubles are said once on standard error, and their end.
class TextfileFolder {
public:
    explicit TextfileFolder(std::string dir) : dir_(std::move(dir)) {}

    // At the start: false, said on standard error, when the folder is there
    // and cannot be written (a service that ran on without its files would only
    // show as a stale maser).
    bool check_at_start();

    // Replaces the maser's file whole: a reader sees the old file or the new
    // one, never a part. False when it is not written now.
    bool write(const std::string& maser, const std::string& text);

    // True while the folder is missing.
    bool waiting() const { return missing_; }
    // Whether the folder is there now; says so when it has come back.
    bool look_again();

private:
    bool missing_now();

    std::string dir_;
    bool missing_ = false;
    bool failing_ = false;
};
