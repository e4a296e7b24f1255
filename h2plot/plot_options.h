// h2plot's command line:
//   h2plot [--channels LIST] [--from TIME | --last SPAN] [--to TIME] [--title TEXT]
//          [--width PX] [-o FILE] LOG...
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
};

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
