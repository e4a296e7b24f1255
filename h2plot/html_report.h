// The plot as one self-contained web page, for a report or an e-mail: a table
// of each channel's min, mean, max and gaps, then the panels, inline. Nothing
// is fetched and nothing needs a script.
#pragma once

#include "h2plot/plot_data.h"

#include <string>

// `title` names the maser (may be empty); `heading` says the range and the
// records; `inputs` lists the logs read as HTML list items.
std::string render_html(const PlotModel& model, int width, const std::string& title,
                        const std::string& heading, const std::string& inputs);

// A length of time for a reader: "250 ms", "45 s", "12 min 5 s", "3 h 20 min", "2 d 4 h".
std::string duration_text(MicroDay length);
