#include "h2plot/svg_plot.h"

#include "h2plot/axis_ticks.h"
#include "h2plot/number_text.h"
#include "telemetry/channels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kHeadingHeight = 28;
constexpr int kTitleHeight = 22;  // above each panel's frame
constexpr int kPanelHeight = 120; // the frame
constexpr int kPanelGap = 14;
constexpr int kAxisHeight = 44; // tick labels under the last panel
constexpr int kPanelPitch = kTitleHeight + kPanelHeight + kPanelGap;
constexpr int kTickSpacing = 140; // pixels between time ticks, at least
constexpr double kCharWidth = 7;  // of a digit at the font size, a little over

constexpr const char* kBandColour = "#9ecae1";
constexpr const char* kMeanColour = "#08519c";
constexpr const char* kGapColour = "#fdd0a2";
constexpr const char* kGridColour = "#e0e0e0";
constexpr const char* kClippedColour = "#d62728";

struct Frame {
    int left;
    int top;
    int columns;
    ValueAxis axis;

    double x(double column) const { return left + column + 0.5; }
    // Values outside the range are drawn at its edge (and marked as clipped).
    double y(double value) const {
        const ValueRange& range = axis.range;
        const double v = std::clamp(value, range.lo, range.hi);
        const double share = axis.log ? std::log(v / range.lo) / std::log(range.hi / range.lo)
                                      : (v - range.lo) / (range.hi - range.lo);
        return top + kPanelHeight - share * kPanelHeight;
    }
};

// A short red mark at the frame's top or bottom over the columns whose
// values went beyond the range shown.
void draw_clipped(std::string& out, const Frame& frame, const std::vector<Summary>& columns) {
    for (const bool above : {true, false}) {
        const auto beyond = [&](const Summary& c) {
            return c.count > 0 &&
                   (above ? c.max > frame.axis.range.hi : c.min < frame.axis.range.lo);
        };
        const int count = static_cast<int>(columns.size());
        for (int c = 0; c < count; ++c) {
            if (!beyond(columns[c])) {
                continue;
            }
            int end = c;
            while (end + 1 < count && beyond(columns[end + 1])) {
                ++end;
            }
            out += "<rect class=\"clipped\" x=\"" + std::to_string(frame.left + c) + "\" y=\"" +
                   std::to_string(above ? frame.top : frame.top + kPanelHeight - 4) +
                   "\" width=\"" + std::to_string(end - c + 1) + "\" height=\"4\" fill=\"" +
                   kClippedColour + "\"/>\n";
            c = end;
        }
    }
}

void point(std::string& out, double x, double y) {
    append_number(out, x, 1);
    out += ',';
    append_number(out, y, 1);
    out += ' ';
}

// The last column with data from `first` on before the line breaks: where a
// gap begins. Columns without data between two records a record interval
// apart (a log sparser than the pixels) are no break.
int run_end(const std::vector<Summary>& columns, int first) {
    int last = first;
    for (int c = first + 1; c < static_cast<int>(columns.size()) && !columns[last].gap_after; ++c) {
        if (columns[c].count > 0) {
            last = c;
        }
    }
    return last;
}

void draw_run(std::string& out, const Frame& frame, const std::vector<Summary>& columns, int first,
              int last) {
    if (first == last) {
        // One column: a bar from its min to its max, at least a pixel high,
        // and a dot at its mean that a lone record shows by.
        const Summary& c = columns[first];
        const double top = frame.y(c.max) - 0.5;
        out += "<rect class=\"band\" x=\"";
        append_number(out, frame.x(first) - 0.5, 1);
        out += "\" y=\"";
        append_number(out, top, 1);
        out += "\" width=\"1\" height=\"";
        append_number(out, frame.y(c.min) + 0.5 - top, 1);
        out += "\" fill=\"" + std::string(kMeanColour) + "\"/>\n<circle class=\"point\" cx=\"";
        append_number(out, frame.x(first), 1);
        out += "\" cy=\"";
        append_number(out, frame.y(c.mean()), 1);
        out += "\" r=\"2.5\" fill=\"" + std::string(kMeanColour) + "\"/>\n";
        return;
    }
    out += "<polygon class=\"band\" fill=\"" + std::string(kBandColour) + "\" stroke=\"" +
           kBandColour + "\" stroke-width=\"1\" points=\"";
    for (int c = first; c <= last; ++c) {
        if (columns[c].count > 0) {
            point(out, frame.x(c), frame.y(columns[c].max));
        }
    }
    for (int c = last; c >= first; --c) {
        if (columns[c].count > 0) {
            point(out, frame.x(c), frame.y(columns[c].min));
        }
    }
    out.back() = '"';
    out += "/>\n<polyline class=\"mean\" fill=\"none\" stroke=\"" + std::string(kMeanColour) +
           "\" stroke-width=\"1\" points=\"";
    for (int c = first; c <= last; ++c) {
        if (columns[c].count > 0) {
            point(out, frame.x(c), frame.y(columns[c].mean()));
        }
    }
    out.back() = '"';
    out += "/>\n";
}

// A light band over each gap, from the column where it begins to the one
// where the data comes back, so that even a gap narrower than a pixel shows;
// silence at an end of the range reaches the frame.
void draw_gaps(std::string& out, const Frame& frame, const PlotModel& model) {
    for (const Gap& gap : model.intervals.gaps) {
        const TimeColumns& time = model.time;
        const double x0 =
            gap.at_edge && gap.start == time.lo ? frame.left : frame.x(time.column_of(gap.start));
        const double x1 = gap.at_edge && gap.end == time.hi ? frame.left + frame.columns
                                                            : frame.x(time.column_of(gap.end));
        out += "<rect class=\"gap\" x=\"";
        append_number(out, x0, 1);
        out += "\" y=\"" + std::to_string(frame.top) + "\" width=\"";
        append_number(out, std::max(x1 - x0, 1.0), 1);
        out += "\" height=\"" + std::to_string(kPanelHeight) + "\" fill=\"" + kGapColour + "\"/>\n";
    }
}

void draw_value_axis(std::string& out, const Frame& frame) {
    const ValueTicks ticks = axis_ticks(frame.axis);
    for (std::size_t i = 0; i < ticks.values.size(); ++i) {
        const std::string y = number_text(frame.y(ticks.values[i]), 1);
        out += "<line x1=\"" + std::to_string(frame.left) + "\" x2=\"" +
               std::to_string(frame.left + frame.columns) + "\" y1=\"" + y + "\" y2=\"" + y +
               "\" stroke=\"" + kGridColour + "\"/>\n<text x=\"" + std::to_string(frame.left - 6) +
               "\" y=\"" + y + "\" text-anchor=\"end\" dominant-baseline=\"middle\">" +
               ticks.labels[i] + "</text>\n";
    }
}

void draw_time_grid(std::string& out, const Frame& frame, const std::vector<double>& xs) {
    for (double x : xs) {
        const std::string at = number_text(x, 1);
        out += "<line x1=\"" + at + "\" x2=\"" + at + "\" y1=\"" + std::to_string(frame.top) +
               "\" y2=\"" + std::to_string(frame.top + kPanelHeight) + "\" stroke=\"" +
               kGridColour + "\"/>\n";
    }
}

// The description names the unit after its last comma ("Pump current, uA",
// "Receiver IF level, VRMS"): the title gives it once, in brackets.
std::string panel_title(int row, bool log) {
    const CHANNEL& channel = kChannels[row];
    std::string what = channel.description;
    std::string unit = unit_label(row);
    const std::size_t comma = what.rfind(", ");
    if (comma != std::string::npos && what.find(' ', comma + 2) == std::string::npos &&
        channel_kind(channel) == ChannelKind::kMeasurement) {
        unit = what.substr(comma + 2);
        what.erase(comma);
    }
    return "<tspan font-weight=\"bold\">" + xml_escaped(channel.name) + "</tspan> " +
           xml_escaped(what) + " (" + xml_escaped(unit) + (log ? ", log scale" : "") + ")";
}

void draw_panel(std::string& out, const PlotModel& model, const ChannelPlot& channel,
                const Frame& frame, const std::vector<double>& tick_xs) {
    out += "<g class=\"panel\" id=\"panel-" + xml_escaped(kChannels[channel.row].name) + "\">\n";
    out += "<text x=\"" + std::to_string(frame.left) + "\" y=\"" + std::to_string(frame.top - 7) +
           "\">" + panel_title(channel.row, frame.axis.log) + "</text>\n";
    draw_value_axis(out, frame);
    draw_time_grid(out, frame, tick_xs);
    draw_gaps(out, frame, model);
    const int count = static_cast<int>(channel.columns.size());
    for (int c = 0; c < count; ++c) {
        if (channel.columns[c].count > 0) {
            const int last = run_end(channel.columns, c);
            draw_run(out, frame, channel.columns, c, last);
            c = last;
        }
    }
    draw_clipped(out, frame, channel.columns);
    // The frame just outside the columns, so that it covers no data.
    out += "<rect x=\"" + number_text(frame.left - 0.5, 1) + "\" y=\"" +
           number_text(frame.top - 0.5, 1) + "\" width=\"" + std::to_string(frame.columns + 1) +
           "\" height=\"" + std::to_string(kPanelHeight + 1) +
           "\" fill=\"none\" stroke=\"#808080\"/>\n</g>\n";
}

void draw_time_axis(std::string& out, const std::vector<TimeTick>& ticks,
                    const std::vector<double>& xs, int frame_left, int top) {
    out += "<g class=\"time-axis\">\n";
    const std::string left = std::to_string(frame_left - 6);
    out += "<text x=\"" + left + "\" y=\"" + std::to_string(top + 16) +
           "\" text-anchor=\"end\">UTC</text>\n<text x=\"" + left + "\" y=\"" +
           std::to_string(top + 32) + "\" text-anchor=\"end\" fill=\"#606060\">MJD</text>\n";
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const std::string x = number_text(xs[i], 1);
        const std::string label_x = number_text(xs[i] + 3, 1);
        out += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + std::to_string(top) + "\" y2=\"" +
               std::to_string(top + 34) + "\" stroke=\"#808080\"/>\n<text x=\"" + label_x +
               "\" y=\"" + std::to_string(top + 16) + "\">" + ticks[i].utc + "</text>\n<text x=\"" +
               label_x + "\" y=\"" + std::to_string(top + 32) + "\" fill=\"#606060\">" +
               ticks[i].mjd + "</text>\n";
    }
    out += "</g>\n";
}

} // namespace

std::string xml_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unit_label(int row) {
    const CHANNEL& channel = kChannels[row];
    return channel_kind(channel) == ChannelKind::kMeasurement ? std::string(channel_unit(channel))
                                                              : "code";
}

int svg_columns(const std::vector<ValueAxis>& axes, int width) {
    std::size_t longest = 0;
    for (const ValueAxis& axis : axes) {
        for (const std::string& label : axis_ticks(axis).labels) {
            longest = std::max(longest, label.size());
        }
    }
    const int margin =
        std::max(kSvgMarginLeft, 10 + static_cast<int>(kCharWidth * static_cast<double>(longest)));
    return std::max(1, width - margin - kSvgMarginRight);
}

std::string render_svg(const PlotModel& model, int width, const std::string& heading,
                       bool standalone) {
    const int columns = model.time.count;
    const int left = width - kSvgMarginRight - columns;
    const int panels = static_cast<int>(model.channels.size());
    const int axis_top = kHeadingHeight + panels * kPanelPitch - kPanelGap;
    const int height = axis_top + kAxisHeight;
    std::string out;
    if (standalone) {
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    }
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
           " " + std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out += "<text x=\"" + std::to_string(left) + "\" y=\"16\" font-size=\"13\">" +
           xml_escaped(heading) + "</text>\n";

    std::vector<TimeTick> ticks;
    std::vector<double> tick_xs;
    const TimeColumns& time = model.time;
    for (TimeTick& tick : time_ticks(time.lo, time.hi, std::max(1, columns / kTickSpacing))) {
        const double x = left + time.position(tick.t);
        // Labels start at their tick: one that would run off the picture is left out.
        if (x + kCharWidth * static_cast<double>(tick.utc.size()) <= width) {
            tick_xs.push_back(x);
            ticks.push_back(std::move(tick));
        }
    }
    for (int i = 0; i < panels; ++i) {
        const ChannelPlot& channel = model.channels[static_cast<std::size_t>(i)];
        const Frame frame{left, kHeadingHeight + i * kPanelPitch + kTitleHeight, columns,
                          channel.axis};
        draw_panel(out, model, channel, frame, tick_xs);
    }
    draw_time_axis(out, ticks, tick_xs, left, axis_top);
    out += "</svg>\n";
    return out;
}
