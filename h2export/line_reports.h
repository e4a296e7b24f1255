// Bad lines of a log are reported once for each kind; after that they are
// only counted.
#pragma once

#include "h2export/log_record.h"

#include <cstdio>
#include <string>

class LineReports {
public:
    void bad_line(const std::string& label, const std::string& path, LineKind kind) {
        bool& done = reported_[static_cast<int>(kind)];
        if (!done) {
            done = true;
            std::fprintf(stderr,
                         "h2export: %s: %s: skipped %s (further ones are counted in "
                         "maser_log_malformed_lines_total, not reported)\n",
                         label.c_str(), path.c_str(), line_kind_text(kind));
        }
    }

private:
    bool reported_[kLineKindCount] = {};
};
