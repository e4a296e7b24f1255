// The numbers behind a picture, for a notebook or a spreadsheet: one CSV row
// per pixel column with the column's start time and, for each channel, the
// min, mean, max and count of the values in it.
#pragma once

#include "h2plot/plot_data.h"

#include <string>

std::string render_column_csv(const PlotModel& model);
