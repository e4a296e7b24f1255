// The report page's account of the maser: how each subsystem is (ok,
// attention, alarm), why and since when, what heads for a limit and when,
// the steps of the recent days with the logbook entries that explain them,
// and the logbook's entries over the range, numbered as the panels mark them.
#pragma once

#include "h2plot/maser_files.h"
#include "h2plot/svg_plot.h"
#include "telemetry/health_report.h"

#include <optional>
#include <string>
#include <vector>

struct PageHealth {
    // The analysis's report; without one, or without a record in it, the
    // maser is not judged and `missing` says why.
    std::optional<HealthReport> report;
    std::string missing;
    MicroDay first = 0;  // the first record analysed
    MicroDay end = 0;    // the end of the range
    bool silent = false; // the range ends in a gap: no record for a while before its end
};

// The logbook's entries within [lo, hi], numbered from 1 in time order, as
// marks for the panels.
std::vector<LogbookMark> logbook_marks(const std::vector<LogbookEntry>& logbook, MicroDay lo,
                                       MicroDay hi);

// The state section: the subsystems, the forecasts, the steps and the
// logbook's entries within [lo, hi]. A subsystem whose bit (1 << subsystem)
// is set in `drawn` links to its panels, at subsystem_anchor().
std::string render_state(const PageHealth& health, const MaserFiles& maser, MicroDay lo,
                         MicroDay hi, unsigned drawn);

// The id of a subsystem's panels on the page: "panels-vacuum".
std::string subsystem_anchor(const char* name);

// A channel's trend as the table shows it: "steady", "rising 3.1 uA a day",
// "not known yet"; empty for a channel not analysed.
std::string trend_cell(const PageHealth& health, int row);

// The worst level of the channel's findings: "ok", "attention", "alarm";
// empty when the maser was not judged.
std::string channel_level(const PageHealth& health, int row);

// The subsystem's level, as channel_level().
std::string subsystem_level(const PageHealth& health, Subsystem subsystem);
