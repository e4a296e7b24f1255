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
constexpr const char* kNormalColour = "#e8f5e4";        // grounds: within the normal band,
constexpr const char* kOutsideNormalColour = "#fff3c4"; // outside it,
constexpr const char* kBeyondAlarmColour = "#fcd9d9";   // beyond an alarm limit
constexpr const char* kAlarmColour = "#d62728";         // an alarm limit's line
constexpr const char* kOutsideNormalMark = "#f0a500";   // under a panel: values outside the
constexpr const char* kBeyondAlarmMark = "#d62728";     // normal band, beyond an alarm limit
constexpr int kMarkStripHeight = 3;
constexpr const char* kMarkColour = "#7b3294"; // a logbook entry

constexpr int kTopWithoutHeading = 4;
constexpr int kListTitleHeight = 22; // the logbook listed under a picture on its own
constexpr int kListLineHeight = 16;

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

// The channel's limits as grounds behind the data, where the axis reaches
// them: its normal band green, outside it yellow, beyond an alarm limit red,
// so that a value beyond a limit lies on the colour that says so.
void draw_zones(std::string& out, const Frame& frame, const ChannelLimits& limits) {
    const ValueRange& range = frame.axis.range;
    const auto zone = [&](double low, double high, const char* name, const char* colour) {
        if (!(low < high) || low >= range.hi || high <= range.lo) {
            return;
        }
        const double top = frame.y(high);
        out += "<rect class=\"" + std::string(name) + "\" x=\"" + std::to_string(frame.left) +
               "\" y=\"";
        append_number(out, top, 1);
        out += "\" width=\"" + std::to_string(frame.columns) + "\" height=\"";
        append_number(out, frame.y(low) - top, 1);
        out += "\" fill=\"" + std::string(colour) + "\"/>\n";
    };
    const LimitRange& normal = limits.normal;
    const LimitRange& alarm = limits.alarm;
    if (normal.set) {
        zone(normal.low, normal.high, "normal", kNormalColour);
        zone(alarm.low, normal.low, "outside-normal", kOutsideNormalColour);
        zone(normal.high, alarm.high, "outside-normal", kOutsideNormalColour);
    }
    if (alarm.set) {
        zone(-HUGE_VAL, alarm.low, "beyond-alarm", kBeyondAlarmColour);
        zone(alarm.high, HUGE_VAL, "beyond-alarm", kBeyondAlarmColour);
    }
}

// Under the frame, the stretches of time when values lay outside the normal
// band or beyond an alarm limit, so that a moment beyond a limit shows in a
// year of columns, and with the axis asked for (--range) too.
void draw_beyond_marks(std::string& out, const Frame& frame, const std::vector<Summary>& columns,
                       const ChannelLimits& limits) {
    const auto beyond = [&](const Summary& c) {
        if (c.count == 0) {
            return 0;
        }
        if ((limits.alarm.set && !(limits.alarm.holds(c.min) && limits.alarm.holds(c.max)))) {
            return 2;
        }
        return limits.normal.set && !(limits.normal.holds(c.min) && limits.normal.holds(c.max)) ? 1
                                                                                                : 0;
    };
    // Runs of columns at one level, across columns without records but not
    // across a gap, like the line.
    const auto mark = [&](int level, int first, int last) {
        if (level == 0) {
            return;
        }
        out += std::string("<rect class=\"") + (level == 2 ? "beyond-alarm" : "beyond-normal") +
               "\" x=\"" + std::to_string(frame.left + first) + "\" y=\"" +
               std::to_string(frame.top + kPanelHeight + 1) + "\" width=\"" +
               std::to_string(last - first + 1) + "\" height=\"" +
               std::to_string(kMarkStripHeight) + "\" fill=\"" +
               (level == 2 ? kBeyondAlarmMark : kOutsideNormalMark) + "\"/>\n";
    };
    int level = 0, first = 0, last = 0;
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
        if (columns[c].count == 0) {
            continue;
        }
        const int here = beyond(columns[c]);
        if (here != level) {
            mark(level, first, last);
            level = here;
            first = c;
        }
        last = c;
        if (columns[c].gap_after) {
            mark(level, first, last);
            level = 0;
        }
    }
    mark(level, first, last);
}

// The alarm limits that lie within the axis, as dashed red lines across the panel.
void draw_alarm_lines(std::string& out, const Frame& frame, const LimitRange& alarm) {
    const ValueRange& range = frame.axis.range;
    for (const double value : {alarm.low, alarm.high}) {
        if (!alarm.set || !std::isfinite(value) || value <= range.lo || value >= range.hi) {
            continue;
        }
        const std::string y = number_text(frame.y(value), 1);
        out += "<line class=\"alarm\" x1=\"" + std::to_string(frame.left) + "\" x2=\"" +
               std::to_string(frame.left + frame.columns) + "\" y1=\"" + y + "\" y2=\"" + y +
               "\" stroke=\"" + kAlarmColour + "\" stroke-dasharray=\"6 3\"/>\n";
    }
}

// A dashed line at each logbook entry's time, labelled with its number; a
// reader pointing at it is shown the entry.
void draw_marks(std::string& out, const Frame& frame, const TimeColumns& time,
                const std::vector<LogbookMark>& marks) {
    for (const LogbookMark& mark : marks) {
        if (mark.t < time.lo || mark.t > time.hi) {
            continue;
        }
        const double x = frame.left + time.position(mark.t);
        const std::string at = number_text(x, 1);
        out += "<g class=\"logbook-mark\"><title>" + xml_escaped(mark.label + ": " + mark.text) +
               "</title>\n<line x1=\"" + at + "\" x2=\"" + at + "\" y1=\"" +
               std::to_string(frame.top) + "\" y2=\"" + std::to_string(frame.top + kPanelHeight) +
               "\" stroke=\"" + kMarkColour + "\" stroke-dasharray=\"4 2\"/>\n<text x=\"" +
               number_text(x + 2, 1) + "\" y=\"" + std::to_string(frame.top + 11) +
               "\" font-size=\"10\" fill=\"" + kMarkColour + "\">" + xml_escaped(mark.label) +
               "</text></g>\n";
    }
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
// "Receiver IF level, VRMS"), or none.
std::size_t unit_comma(int row) {
    const CHANNEL& channel = kChannels[row];
    const std::string_view what = channel.description;
    const std::size_t comma = what.rfind(", ");
    return comma != std::string::npos && what.find(' ', comma + 2) == std::string::npos &&
                   channel_kind(channel) == ChannelKind::kMeasurement
               ? comma
               : std::string::npos;
}

// The title gives the unit once, in brackets.
std::string panel_title(int row, bool log) {
    const CHANNEL& channel = kChannels[row];
    const std::size_t comma = unit_comma(row);
    const std::string what = channel_what(row);
    const std::string unit =
        comma == std::string::npos ? unit_label(row) : std::string(channel.description + comma + 2);
    return "<tspan font-weight=\"bold\">" + xml_escaped(channel.name) + "</tspan> " +
           xml_escaped(what) + " (" + xml_escaped(unit) + (log ? ", log scale" : "") + ")";
}

// The channel's limits as the table writes them, and the file that set them
// when it is not the built-in table: "normal 10..50, alarm ..80 (east.limits)".
std::string limits_title(int row, const LimitTable& limits) {
    const ChannelLimits& own = limits.of(row);
    std::string text;
    if (own.normal.set) {
        text = "normal " + range_text(own.normal);
    }
    if (own.alarm.set) {
        text += (text.empty() ? "" : ", ") + std::string("alarm ") + range_text(own.alarm);
    }
    static const LimitTable kBuiltIn = LimitTable::defaults();
    if (!text.empty() && own.from != kBuiltIn.of(row).from) {
        const std::string file = own.from.substr(0, own.from.rfind(':'));
        text += " (" + file.substr(file.find_last_of("/\\") + 1) + ")";
    }
    return text;
}

void draw_panel(std::string& out, const PlotModel& model, const ChannelPlot& channel,
                const Frame& frame, const std::vector<double>& tick_xs, const PictureNotes& notes) {
    const ChannelLimits* limits =
        notes.limits != nullptr ? &notes.limits->of(channel.row) : nullptr;
    out += "<g class=\"panel\" id=\"panel-" + xml_escaped(kChannels[channel.row].name) + "\">\n";
    out += "<text x=\"" + std::to_string(frame.left) + "\" y=\"" + std::to_string(frame.top - 7) +
           "\">" + panel_title(channel.row, frame.axis.log);
    const std::string limit_text =
        notes.limits != nullptr ? limits_title(channel.row, *notes.limits) : "";
    if (!limit_text.empty()) {
        out += " <tspan fill=\"#606060\">" + xml_escaped(limit_text) + "</tspan>";
    }
    out += "</text>\n";
    if (limits != nullptr) {
        draw_zones(out, frame, *limits);
    }
    draw_value_axis(out, frame);
    draw_time_grid(out, frame, tick_xs);
    draw_gaps(out, frame, model);
    if (limits != nullptr) {
        draw_alarm_lines(out, frame, limits->alarm);
    }
    const int count = static_cast<int>(channel.columns.size());
    for (int c = 0; c < count; ++c) {
        if (channel.columns[c].count > 0) {
            const int last = run_end(channel.columns, c);
            draw_run(out, frame, channel.columns, c, last);
            c = last;
        }
    }
    draw_clipped(out, frame, channel.columns);
    if (limits != nullptr) {
        draw_beyond_marks(out, frame, channel.columns, *limits);
    }
    draw_marks(out, frame, model.time, notes.marks);
    // The frame just outside the columns, so that it covers no data.
    out += "<rect x=\"" + number_text(frame.left - 0.5, 1) + "\" y=\"" +
           number_text(frame.top - 0.5, 1) + "\" width=\"" + std::to_string(frame.columns + 1) +
           "\" height=\"" + std::to_string(kPanelHeight + 1) +
           "\" fill=\"none\" stroke=\"#808080\"/>\n</g>\n";
}

// The logbook's entries under the time axis, for a picture read on its own.
void draw_mark_list(std::string& out, const std::vector<LogbookMark>& marks, int left, int top) {
    out += "<g class=\"logbook\">\n<text x=\"" + std::to_string(left) + "\" y=\"" +
           std::to_string(top + 16) + "\" font-weight=\"bold\">Logbook</text>\n";
    int y = top + kListTitleHeight;
    for (const LogbookMark& mark : marks) {
        y += kListLineHeight;
        out += "<text x=\"" + std::to_string(left) + "\" y=\"" + std::to_string(y) +
               "\"><tspan fill=\"" + kMarkColour + "\" font-weight=\"bold\">" +
               xml_escaped(mark.label) + "</tspan> " + xml_escaped(mark.text) + "</text>\n";
    }
    out += "</g>\n";
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

std::string channel_what(int row) {
    const std::string what = kChannels[row].description;
    return what.substr(0, unit_comma(row));
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

std::vector<std::size_t> all_panels(const PlotModel& model) {
    std::vector<std::size_t> panels(model.channels.size());
    for (std::size_t i = 0; i < panels.size(); ++i) {
        panels[i] = i;
    }
    return panels;
}

std::string render_svg(const PlotModel& model, const std::vector<std::size_t>& panels, int width,
                       const std::string& heading, bool standalone, const PictureNotes& notes) {
    const int columns = model.time.count;
    const int left = width - kSvgMarginRight - columns;
    const int top = heading.empty() ? kTopWithoutHeading : kHeadingHeight;
    const int axis_top = top + static_cast<int>(panels.size()) * kPanelPitch - kPanelGap;
    std::vector<LogbookMark> listed;
    if (notes.list_marks) {
        for (const LogbookMark& mark : notes.marks) {
            if (mark.t >= model.time.lo && mark.t <= model.time.hi) {
                listed.push_back(mark);
            }
        }
    }
    const int list_height =
        listed.empty() ? 0
                       : kListTitleHeight + static_cast<int>(listed.size()) * kListLineHeight + 8;
    const int height = axis_top + kAxisHeight + list_height;
    std::string out;
    if (standalone) {
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    }
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
           " " + std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    if (!heading.empty()) {
        out += "<text x=\"" + std::to_string(left) + "\" y=\"16\" font-size=\"13\">" +
               xml_escaped(heading) + "</text>\n";
    }

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
    for (std::size_t i = 0; i < panels.size(); ++i) {
        const ChannelPlot& channel = model.channels[panels[i]];
        const Frame frame{left, top + static_cast<int>(i) * kPanelPitch + kTitleHeight, columns,
                          channel.axis};
        draw_panel(out, model, channel, frame, tick_xs, notes);
    }
    draw_time_axis(out, ticks, tick_xs, left, axis_top);
    if (!listed.empty()) {
        draw_mark_list(out, listed, left, axis_top + kAxisHeight);
    }
    out += "</svg>\n";
    return out;
}
