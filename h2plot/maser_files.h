// The maser a page is of, and what is known about it beside its log: its
// limits (the shipped table with the station's and the maser's overrides)
// and its logbook. A log named NAME.csv (or rotated: NAME.csv.1,
// NAME.csv.2.gz, NAME.csv-20261210) is maser NAME's, whose logbook lies
// beside it as NAME.logbook, as the package keeps them in /var/log/h2mon.
#pragma once

#include "telemetry/limits.h"
#include "telemetry/logbook.h"

#include <string>
#include <vector>

// The name every log but standard input is named by (NAME.csv*); empty when
// one is named otherwise or they do not agree.
std::string maser_of_logs(const std::vector<std::string>& logs);

// NAME.logbook in the folder of the first log that is a file; empty when
// there is none.
std::string logbook_beside(const std::vector<std::string>& logs, const std::string& maser);

struct MaserFiles {
    LimitTable limits = LimitTable::defaults();
    std::vector<std::string> limit_files; // the files read over the built-in table, in order
    std::string logbook_path;             // empty: no logbook
    bool logbook_found = false;
    std::vector<LogbookEntry> logbook; // in time order
    std::vector<std::string> errors;   // "FILE:LINE: what is wrong", files that cannot be read
};

// The limits of maser `maser` from `limits_dir` (none but the built-in table
// when empty), and the logbook at `logbook` (none when empty). A file that
// does not exist is none and no error.
MaserFiles read_maser_files(const std::string& limits_dir, const std::string& maser,
                            const std::string& logbook);
