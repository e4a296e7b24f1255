// h2mon's logs as h2plot reads them: any number of files, plain or
// gzip-compressed, row by row in the order of their first records, with
// everything that is no row counted instead of stopping the reading.
#pragma once

#include "telemetry/log_row.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What reading the logs met besides rows.
struct InputCounts {
    std::uint64_t rows = 0;
    std::uint64_t malformed = 0;      // lines that are no row, or a row with a field of no use
    std::string first_malformed;      // "FILE line N" of the first of them
    std::vector<std::string> damaged; // files whose reading failed part way, with the reason
};

// Gets every row; returns false when the row has a field it cannot use, which
// counts the line as malformed.
using RowSink = std::function<bool(const LogRow&)>;

class LogInput {
public:
    explicit LogInput(std::vector<std::string> paths) : paths_(std::move(paths)) {}

    // Opens every file and puts them in the order of their first rows' times,
    // so that rotated logs given in any order are read as one stream. False,
    // with the reason, when a file cannot be opened.
    bool order(std::string& error);

    // Reads every file in turn and passes each row to `sink`.
    bool read(const RowSink& sink, std::string& error);

    const InputCounts& counts() const { return counts_; }
    const std::vector<std::string>& paths() const { return paths_; }

private:
    bool read_file(const std::string& path, const RowSink& sink, std::string& error);

    std::vector<std::string> paths_;
    InputCounts counts_;
};
