// Judges a run of h2mon against the simulator's exchange log: whether every
// record is a frame the maser sent whole, in order, and whether every frame sent
// on a clean exchange became a record.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace faults {

using h2test::Bytes;

// One line of h2sim's exchange log.
struct LoggedExchange {
    std::uint64_t poll = 0;
    std::string actions; // "full", or the faults joined by '+'
    int sent = 0;        // bytes of the frame that went out as the answer
    bool clean = false;
    Bytes frame;
};

// The log's lines; false when one does not parse.
bool parse_exchange_log(const std::vector<std::string>& lines,
                        std::vector<LoggedExchange>& exchanges);

// The fields of the CSV record of `frame` after its timestamp, one per shown
// channel: worked out here from the channel table, apart from the program's own
// decoding.
std::vector<std::string> csv_fields(const Bytes& frame);

// A CSV record's fields after its timestamp.
std::vector<std::string> fields_after_timestamp(const std::string& record);

struct Verdict {
    std::size_t matched = 0;
    std::vector<std::string> strays;    // records that are no frame sent whole, in turn
    std::vector<std::uint64_t> missing; // polls of clean exchanges without a record
    std::size_t required = 0;           // clean exchanges that had to become records
};

// Matches records (fields after the timestamp) to the exchanges in order. The
// first clean exchange need not have a record: the program discards the first
// frame it takes, which is that one or an earlier one.
Verdict judge(const std::vector<LoggedExchange>& exchanges,
              const std::vector<std::vector<std::string>>& records);

// How many exchanges show each kind of fault ("late", "gaps", ...), and "full".
std::map<std::string, std::size_t> fault_counts(const std::vector<LoggedExchange>& exchanges);

} // namespace faults
