// h2export's command line.
#pragma once

#include "program/exit_code.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct FollowTarget {
    std::string name; // the maser label and the name of its textfile
    std::string path; // its h2mon log
};

struct ExportOptions {
    std::vector<FollowTarget> follows;    // for --backfill, a name may come more than once
    std::vector<std::string> follow_dirs; // a maser per NAME.csv in each, found as it comes
    std::string textfile_dir;             // empty: no textfiles
    std::string influx;                   // empty: no line protocol; "-": standard output
    std::string state;                    // where the line protocol's positions are kept
    std::optional<double> stale_after_seconds;
    bool backfill = false;
};

// A maser name is a Prometheus label value and a file name: letters, digits,
// '_', '-', '.', not starting with '.'.
bool valid_maser_name(const std::string& name);

// Reads the command line into `options`. Returns nothing when the program
// should run; otherwise the exit code, after the help or version text went to
// `out` or an error naming the option to `err`.
std::optional<int> parse_options(int argc, const char* const* argv, ExportOptions& options,
                                 std::ostream& out, std::ostream& err);
