// The value axis of each panel, decided once before anything is drawn, from
// what the command line asks and the channel's values: the picture's margin
// (as wide as the axes' labels) and its panels both go by it.
#pragma once

#include "h2plot/axis_ticks.h"
#include "h2plot/plot_options.h"
#include "h2plot/summary.h"

#include <optional>
#include <vector>

// How a panel's value axis is asked to be scaled: linear over the data (the
// default), logarithmic, a fixed range, or a robust range that leaves out
// the outer half percent of the values' extremes over time.
struct PanelScale {
    bool log = false;
    bool robust = false;
    std::optional<double> lo;
    std::optional<double> hi;
};

// The scale of channel `row` of `overall` values: as --log and --range ask,
// and logarithmic by itself for the ion pump current when it spans two
// decades (a pump that starts or fails).
PanelScale scale_asked(int row, const Summary& overall, const PlotOptions& options);

// The axis of a channel of `overall` values whose values over time are
// `samples` (summaries of short stretches, oldest first). Values beyond it
// are drawn at its ends and marked. A logarithmic axis needs a value above
// 0 to start from: without one the axis is linear.
ValueAxis value_axis(const PanelScale& scale, const Summary& overall, std::vector<Summary> samples);
