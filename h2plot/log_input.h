// h2mon's logs as h2plot reads them: any number of inputs, plain or
// gzip-compressed, row by row in the order of their first records, with
// everything that is no row counted instead of stopping the reading. Each
// input is read once (a pipe or standard input works): the start of every
// input is read up to its first row to order them, and the reading goes on
// from there.
#pragma once

#include "telemetry/log_reader.h"
#include "telemetry/log_row.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One input as read: its rows and the times of the first and the last.
struct InputSpan {
    std::string path;
    std::uint64_t rows = 0;
    double first = 0; // MJD
    double last = 0;
};

// What reading the logs met besides rows.
struct InputCounts {
    std::vector<InputSpan> spans;        // every input opened, in the order read
    std::vector<std::string> unreadable; // inputs that could not be opened, with the reason
    std::uint64_t rows = 0;
    std::uint64_t malformed = 0;      // lines that are no row
    std::string first_malformed;      // "FILE line N" of the first of them
    std::uint64_t unusable = 0;       // rows with a field the sink could not use
    std::string first_unusable;       // "FILE line N" of the first of them
    std::vector<std::string> damaged; // inputs whose reading failed part way, with the reason
};

// Gets every row; returns false when the row has a field it cannot use (the
// row still counts, and the first such row is noted).
using RowSink = std::function<bool(const LogRow&)>;

class LogInput {
public:
    explicit LogInput(std::vector<std::string> paths);

    // Opens every input, reads it up to its first row and puts them in the
    // order of those rows' times, so that rotated logs given in any order are
    // read as one stream. An input that cannot be opened is left out, counted
    // as unreadable.
    void order();

    // Reads every input on in turn and passes each row to `sink`.
    void read(const RowSink& sink);

    // Lines whose time (the first field) is before `mjd` are passed over
    // without being split into fields, nor counted: for a reader that wants
    // the last days of a long log only.
    void skip_before(double mjd) { skip_before_ = mjd; }

    const InputCounts& counts() const { return counts_; }

private:
    struct Source {
        std::string path;
        LogReader reader;
        ReadEnd end = ReadEnd::kPaused;
        std::uint64_t lines = 0;     // lines read so far
        std::string first_row;       // the line of the first row, read while ordering
        double first_time = 0;       // its time; infinite when there is none
        std::uint64_t malformed = 0; // lines before the first row that are no row
        std::uint64_t first_malformed = 0;
    };

    void malformed(const Source& source, std::uint64_t line);
    void read_source(Source& source, const RowSink& sink);

    std::vector<Source> sources_;
    InputCounts counts_;
    double skip_before_ = -HUGE_VAL;
};
