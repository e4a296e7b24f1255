// The picture: one panel per channel, stacked, sharing a time axis at the
// bottom with UTC dates and, under them, the MJD. Each pixel column shows the
// range (min to max) of the values it covers as a band and their mean as a
// line; the line and the band break wherever the data has a gap.
#pragma once

#include "h2plot/plot_data.h"
#include "telemetry/limits.h"

#include <string>

// Room beside the plotted columns: value labels on the left, as wide as the
// labels need and at least kSvgMarginLeft.
constexpr int kSvgMarginLeft = 72;
constexpr int kSvgMarginRight = 16;

// The most pixel columns a picture `width` pixels wide has.
inline int plot_columns(int width) {
    return width - kSvgMarginLeft - kSvgMarginRight;
}

// The pixel columns of a picture `width` pixels wide whose panels have the
// value axes `axes`: the rest is the margin their labels need.
int svg_columns(const std::vector<ValueAxis>& axes, int width);

// A logbook entry as the panels mark it: a line at its time on every panel,
// labelled as the page's list numbers it.
struct LogbookMark {
    MicroDay t = 0;
    std::string label; // "1"
    std::string text;  // the entry, shown where a reader points at the mark
};

// What the panels show beside the data: each channel's normal band and alarm
// limits, with the values beyond them marked, and the logbook's entries.
struct PictureNotes {
    const LimitTable* limits = nullptr; // none: no bands
    std::vector<LogbookMark> marks;
    bool list_marks = false; // also list the entries under the time axis (a picture on its own)
};

// The picture as an SVG element, `width` pixels wide (the model's columns
// from svg_columns()), of the model's channels `panels` (indices, in the
// order drawn), headed by `heading` (none when empty). A standalone picture
// also gets the XML declaration a .svg file begins with.
std::string render_svg(const PlotModel& model, const std::vector<std::size_t>& panels, int width,
                       const std::string& heading, bool standalone, const PictureNotes& notes);

// Every channel of the model, in its order.
std::vector<std::size_t> all_panels(const PlotModel& model);

// `text` with the characters that XML gives a meaning escaped.
std::string xml_escaped(const std::string& text);

// What the channel is, without the unit its description ends with:
// "Pump current" of "Pump current, uA".
std::string channel_what(int row);

// The channel's unit as a panel or a table names it: the measurement's unit,
// or "code" for the FLL system's codes.
std::string unit_label(int row);
