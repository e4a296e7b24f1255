// The gaps of a log, found from where its rows fell (not from the order they
// came in): a silence much longer than the logging interval on either side
// of it, wherever it is, and silence at either end of the range asked for.
// A change of the logging interval is no gap.
#pragma once

#include "h2plot/summary.h"
#include "telemetry/time_text.h"

#include <vector>

struct Gap {
    MicroDay start; // the last row before it, or the start of the range
    MicroDay end;   // the first row after it, or the end of the range
    bool at_edge;   // at an end of the range
};

struct LogIntervals {
    std::vector<Gap> gaps; // oldest first
    // The logging interval that held for most records, and the range in which
    // nearly all of them (nine in ten) lay; 0 when there were too few records.
    MicroDay usual = 0;
    MicroDay low = 0;
    MicroDay high = 0;
};

// `bins`: the row times of fine bins that hold rows, oldest first; [lo, hi]:
// the range plotted.
LogIntervals find_gaps(const std::vector<RowTimes>& bins, MicroDay lo, MicroDay hi);
