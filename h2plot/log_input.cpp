#include "h2plot/log_input.h"

#include <algorithm>
#include <limits>

namespace {

// No row is longer than the MJD and 43 fields of at most 120 digits.
constexpr std::size_t kMaxLine = 4096;

} // namespace

LogInput::LogInput(std::vector<std::string> paths) {
    for (std::string& path : paths) {
        Source source;
        source.path = std::move(path);
        source.reader = LogReader(kMaxLine);
        sources_.push_back(std::move(source));
    }
}

void LogInput::order() {
    std::vector<Source> opened;
    for (Source& source : sources_) {
        std::string error;
        if (!source.reader.open(source.path, error)) {
            counts_.unreadable.push_back(error);
            continue;
        }
        // Up to the first row; what comes before it is remembered for read().
        LogRow row;
        bool found = false;
        const auto other = [&source] {
            if (source.malformed++ == 0) {
                source.first_malformed = source.lines;
            }
        };
        source.end = source.reader.read(
            [&](std::string_view line) {
                ++source.lines;
                switch (row.parse(line)) {
                case LogLine::kRow:
                    source.first_row = line;
                    source.first_time = row.mjd();
                    found = true;
                    return false;
                case LogLine::kHeader:
                    break;
                case LogLine::kMalformed:
                    other();
                    break;
                }
                return true;
            },
            [&] {
                ++source.lines;
                other();
            });
        if (!found) {
            source.first_time = std::numeric_limits<double>::infinity();
        }
        opened.push_back(std::move(source));
    }
    sources_.swap(opened);
    std::stable_sort(sources_.begin(), sources_.end(),
                     [](const Source& a, const Source& b) { return a.first_time < b.first_time; });
}

void LogInput::read(const RowSink& sink) {
    for (Source& source : sources_) {
        read_source(source, sink);
    }
}

void LogInput::malformed(const Source& source, std::uint64_t line) {
    if (counts_.malformed++ == 0) {
        counts_.first_malformed = source.path + " line " + std::to_string(line);
    }
}

void LogInput::read_source(Source& source, const RowSink& sink) {
    if (source.malformed > 0) {
        malformed(source, source.first_malformed);
        counts_.malformed += source.malformed - 1;
    }
    std::uint64_t rows = 0;
    InputSpan span{source.path};
    LogRow row;
    const auto take = [&](std::string_view line) {
        switch (row.parse(line)) {
        case LogLine::kRow:
            ++counts_.rows;
            ++rows;
            span.first = span.rows == 0 ? row.mjd() : std::min(span.first, row.mjd());
            span.last = span.rows == 0 ? row.mjd() : std::max(span.last, row.mjd());
            ++span.rows;
            if (!sink(row) && counts_.unusable++ == 0) {
                counts_.first_unusable = source.path + " line " + std::to_string(source.lines);
            }
            break;
        case LogLine::kHeader:
            break;
        case LogLine::kMalformed:
            malformed(source, source.lines);
            break;
        }
        return true;
    };
    if (!source.first_row.empty()) {
        take(source.first_row);
        source.first_row = std::string();
    }
    const auto overlong = [&] {
        ++source.lines;
        malformed(source, source.lines);
    };
    // A line before skip_before_ is known by its first field alone.
    const auto skipped = [&](std::string_view line) {
        double mjd;
        return parse_decimal(line.substr(0, std::min(line.find(','), line.size())), &mjd) &&
               mjd < skip_before_;
    };
    if (source.end == ReadEnd::kPaused && skip_before_ > -HUGE_VAL) {
        source.end = source.reader.read(
            [&](std::string_view line) {
                ++source.lines;
                return skipped(line) || take(line);
            },
            overlong);
    } else if (source.end == ReadEnd::kPaused) {
        source.end = source.reader.read(
            [&](std::string_view line) {
                ++source.lines;
                return take(line);
            },
            overlong);
    }
    if (source.end == ReadEnd::kDamaged) {
        counts_.damaged.push_back(source.reader.damage(rows));
    }
    counts_.spans.push_back(std::move(span));
    // The input is done with: its buffers go now, not with the last input.
    source.reader = LogReader();
}
