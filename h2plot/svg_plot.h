// The picture: one panel per channel, stacked, sharing a time axis at the
// bottom with UTC dates and, under them, the MJD. Each pixel column shows the
// range (min to max) of the values it covers as a band and their mean as a
// line; the line and the band break wherever the data has a gap.
#pragma once

#include "h2plot/plot_data.h"

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

// The picture as an SVG element, `width` pixels wide (the model's columns
// from svg_columns()), headed by `heading`. A standalone picture also gets the XML
// declaration a .svg file begins with.
std::string render_svg(const PlotModel& model, int width, const std::string& heading,
                       bool standalone);

// `text` with the characters that XML gives a meaning escaped.
std::string xml_escaped(const std::string& text);

// The channel's unit as a panel or a table names it: the measurement's unit,
// or "code" for the FLL system's codes.
std::string unit_label(int row);
