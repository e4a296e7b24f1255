#include "h2plot/log_input.h"

#include "telemetry/line_assembler.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace {

constexpr unsigned kBlockSize = 1 << 20;

struct GzCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzFile = std::unique_ptr<gzFile_s, GzCloser>;

// zlib reads a file that is not gzip-compressed as it is, so one path serves
// plain and compressed logs alike (and concatenated gzip members).
GzFile open_log(const std::string& path, std::string& error) {
    errno = 0;
    GzFile file(gzopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path + ": " + (errno != 0 ? std::strerror(errno) : "no memory");
        return file;
    }
    gzbuffer(file.get(), 256 * 1024);
    return file;
}

std::string read_failure(gzFile file) {
    int code = Z_OK;
    const char* text = gzerror(file, &code);
    return code == Z_ERRNO ? std::strerror(errno) : text;
}

// Calls on_line for each line of the file, and on_overlong for each line too
// long to be a row; the last line counts even without its line end. Returns
// the reason when the file could not be read to its end.
template <class OnLine, class OnOverlong>
std::optional<std::string> each_line(gzFile file, OnLine&& on_line, OnOverlong&& on_overlong) {
    // No row is longer than the MJD and 43 fields of at most 120 digits.
    LineAssembler lines(4096);
    std::unique_ptr<char[]> block(new char[kBlockSize]);
    bool stop = false;
    const auto line = [&](std::string_view text) { stop = stop || !on_line(text); };
    while (!stop) {
        const int n = gzread(file, block.get(), kBlockSize);
        if (n < 0) {
            return read_failure(file);
        }
        if (n == 0) {
            int code = Z_OK;
            gzerror(file, &code);
            if (code != Z_OK) {
                return read_failure(file);
            }
            break;
        }
        lines.feed(std::string_view(block.get(), static_cast<std::size_t>(n)), line, on_overlong);
    }
    if (!stop && lines.pending() > 0) {
        lines.feed("\n", line, on_overlong);
    }
    return std::nullopt;
}

// The time of the file's first row; none when it has no row.
std::optional<double> first_row_time(gzFile file) {
    std::optional<double> first;
    LogRow row;
    each_line(
        file,
        [&](std::string_view line) {
            if (row.parse(line) == LogLine::kRow) {
                first = row.mjd();
            }
            return !first;
        },
        [] {});
    return first;
}

} // namespace

bool LogInput::order(std::string& error) {
    struct Keyed {
        double first;
        std::string path;
    };
    std::vector<Keyed> keyed;
    for (const std::string& path : paths_) {
        const GzFile file = open_log(path, error);
        if (!file) {
            return false;
        }
        const std::optional<double> first = first_row_time(file.get());
        keyed.push_back({first.value_or(std::numeric_limits<double>::infinity()), path});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        paths_[i] = keyed[i].path;
    }
    return true;
}

bool LogInput::read(const RowSink& sink, std::string& error) {
    for (const std::string& path : paths_) {
        if (!read_file(path, sink, error)) {
            return false;
        }
    }
    return true;
}

bool LogInput::read_file(const std::string& path, const RowSink& sink, std::string& error) {
    const GzFile file = open_log(path, error);
    if (!file) {
        return false;
    }
    std::uint64_t line_number = 0;
    const auto malformed = [&] {
        if (counts_.malformed++ == 0) {
            counts_.first_malformed = path + " line " + std::to_string(line_number);
        }
    };
    LogRow row;
    const std::optional<std::string> failure = each_line(
        file.get(),
        [&](std::string_view line) {
            ++line_number;
            switch (row.parse(line)) {
            case LogLine::kRow:
                ++counts_.rows;
                if (!sink(row)) {
                    malformed();
                }
                break;
            case LogLine::kHeader:
                break;
            case LogLine::kMalformed:
                malformed();
                break;
            }
            return true;
        },
        [&] {
            ++line_number;
            malformed();
        });
    if (failure) {
        counts_.damaged.push_back(path + ": " + *failure + " after line " +
                                  std::to_string(line_number));
    }
    return true;
}
