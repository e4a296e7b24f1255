// h2sim's command line.
#pragma once

#include "h2sim/fault_plan.h"
#include "h2sim/scenario.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint64_t kDefaultSeed = 1;

struct Options {
    std::uint64_t seed = kDefaultSeed;
    std::string frames_path;            // play frames from this file instead of the model
    long baud = 0;                      // pace the line at this rate; 0: answers go out at once
    std::string link_path;              // symbolic link to the slave
    std::string log_path;               // exchange log
    bool log_times = false;             // the exchange log also gives when bytes came and went
    std::uint64_t close_after = 0;      // close the line after this many polls; 0: never
    double chaos = 0.0;                 // probability of a random fault on an answer
    const Scenario* scenario = nullptr; // a health story played on the model's frames
    double time_scale = 1.0;            // story seconds per second of the run
    std::vector<FaultRule> faults;

    // A log written at simulated time instead of a line (--write-log).
    std::string write_log;              // the file, or "-" for standard output; empty: a line
    double start_mjd = -1;              // the first record's time; negative: the span up to now
    double span_seconds = 28 * 86400.0; // how much of the story the log holds
    double interval_seconds = 10;       // from one record to the next
    bool header = false;                // the CSV header first, as h2mon's standard output has it
    double jitter = 1.0;                // times the model's noise
    std::vector<std::string> line_options; // options given that only a line can take
    std::vector<std::string> log_options;  // options given that only --write-log can take
};

enum class ParseOutcome { Run, Help, Version, Error };

// Fills `options` from the arguments; on Error, `error` says what is wrong.
ParseOutcome parse_options(int argc, char** argv, Options& options, std::string& error);

// The text printed by --help.
std::string usage_text();
