// Bad lines of a log are reported once for each kind; after that they are
// only counted.
#pragma once

#include "h2export/log_record.h"

#include <cstdint>
#include <cstdio>
#include <string>

class LineReports {
public:
    // `counted_in` says where the further ones are counted.
    explicit LineReports(const char* counted_in = "maser_log_malformed_lines_total")
        : counted_in_(counted_in) {}

    void bad_line(const std::string& label, const std::string& path, LineKind kind) {
        ++skipped_;
        bool& done = reported_[static_cast<int>(kind)];
        if (!done) {
            done = true;
            std::fprintf(stderr,
                         "h2export: %s: %s: skipped %s (further ones are counted in %s, not "
                         "reported)\n",
                         label.c_str(), path.c_str(), line_kind_text(kind), counted_in_);
        }
    }

    std::uint64_t skipped() const { return skipped_; }

private:
    const char* counted_in_;
    bool reported_[kLineKindCount] = {};
    std::uint64_t skipped_ = 0;
};
