// The plot as one self-contained web page, for a report or an e-mail: the
// maser's state (its subsystems, forecasts, steps and logbook), a table of
// each channel's values and trend, then the panels, grouped by subsystem,
// inline. Nothing is fetched and nothing needs a script.
#pragma once

#include "h2plot/maser_files.h"
#include "h2plot/page_state.h"
#include "h2plot/plot_data.h"
#include "h2plot/svg_plot.h"

#include <string>

struct PageParts {
    std::string title;      // names the maser; may be empty
    std::string maser_name; // the maser's name, the page's title without one; may be empty
    std::string heading;    // the range and its records
    std::string inputs;     // the logs read, as HTML list items
    const MaserFiles* maser = nullptr;
    const PageHealth* health = nullptr;
    PictureNotes notes; // the limits and the logbook's marks on the panels
};

std::string render_html(const PlotModel& model, int width, const PageParts& parts);

// A length of time for a reader: "250 ms", "45 s", "12 min 5 s", "3 h 20 min", "2 d 4 h".
std::string duration_text(MicroDay length);
