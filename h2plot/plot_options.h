// h2plot's command line:
//   h2plot [--channels LIST] [--from TIME | --last SPAN] [--to TIME] [--title TEXT]
//          [--maser NAME] [--limits DIR] [--logbook FILE] [--width PX] [-o FILE] LOG...
#pragma once

#include "telemetry/time_text.h"
#include "program/exit_code.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

enum class OutputForm { kSvg, kHtml, kCsv };

// A value axis asked for with --range: fixed ends, or robust.
struct RangeChoice {
    int row = 0;
    bool robust = false;
    double lo = 0;
    double hi = 0;
};

struct PlotOptions {
    std::vector<int> rows; // channel table rows, in the order given
    std::optional<MicroDay> from;
    std::optional<MicroDay> to;
    std::string title; // shown before the time range, as the maser's name
    int width = 1200;
    std::string output = "h2plot.svg"; // "-": standard output
    OutputForm form = OutputForm::kSvg;
    std::vector<int> log_rows;       // channels on a logarithmic axis (--log)
    std::vector<RangeChoice> ranges; // --range
    std::vector<std::string> logs;
    // The maser's limits and logbook, for the limit bands, the logbook's marks
    // and the page's state.
    std::string maser;          // --maser, or the name the logs are named by; empty: none
    std::string limits_dir;     // --limits: limits.conf and MASER.limits; empty: the built-in table
    std::string logbook;        // --logbook, or MASER.logbook beside the logs; empty: none
    bool logbook_given = false; // named on the command line, so that its absence is said
};

// Where a maser's limits are looked for unless --limits says: the system's
// configuration folder (/etc/h2mon), none on Windows.
extern const char* const kDefaultLimitsDir;

// Reads the command line into `options`. When the program should not go on
// (help, version, a bad command line), returns its exit code, having written
// the text to `out` (help, version) or `err` (what was wrong, naming the option).
std::optional<int> parse_plot_options(int argc, const char* const* argv, PlotOptions& options,
                                      std::ostream& out, std::ostream& err);

// A span of time written as a count and a unit: "12h", "7d", "2w". Empty on
// anything else.
std::optional<MicroDay> parse_span(std::string_view text);

// Whether a channel table row can be plotted: a measurement, or a code of the
// FLL system narrow enough to be a number without rounding.
bool plottable(int row);

// The names of every plottable channel, comma-separated.
std::string plottable_names();
