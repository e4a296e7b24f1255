#include "h2plot/html_report.h"

#include "h2plot/number_text.h"
#include "h2plot/svg_plot.h"
#include "h2plot/interval_estimate.h"
#include "telemetry/channels.h"

#include <cmath>

namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:16px;color:#202020}"
    "table{border-collapse:collapse;margin:12px 0}"
    "th,td{padding:3px 10px;border-bottom:1px solid #d0d0d0;text-align:right}"
    "th:nth-child(-n+3),td:nth-child(-n+3){text-align:left}"
    "svg{display:block;max-width:100%;height:auto}";

std::string cell(const std::string& text) {
    return "<td>" + text + "</td>";
}

// Measurements with the three decimals h2mon logs them with; codes are whole.
std::string value_text(const ChannelPlot& channel, double value, bool mean) {
    if (channel.overall.count == 0) {
        return "";
    }
    const bool code = channel_kind(kChannels[channel.row]) != ChannelKind::kMeasurement;
    return number_text(value, code && !mean ? 0 : 3);
}

std::string stats_row(const ChannelPlot& channel, const GapStats& gaps) {
    const CHANNEL& table_row = kChannels[channel.row];
    const Summary& all = channel.overall;
    return std::string("<tr>") + cell(xml_escaped(table_row.name)) +
           cell(xml_escaped(table_row.description)) + cell(xml_escaped(unit_label(channel.row))) +
           cell(std::to_string(all.count)) + cell(value_text(channel, all.min, false)) +
           cell(value_text(channel, all.mean(), true)) + cell(value_text(channel, all.max, false)) +
           cell(value_text(channel, channel.last, false)) +
           cell(value_text(channel, channel.change, true)) + cell(std::to_string(gaps.count)) +
           cell(duration_text(gaps.total)) + cell(duration_text(gaps.longest)) + "</tr>\n";
}

std::string interval_text(const LogIntervals& intervals) {
    if (intervals.usual == 0) {
        return "";
    }
    // Nine in ten records within a factor of two of the usual interval: one interval.
    const bool one = intervals.high <= 2 * intervals.low;
    return "; records every " +
           (one ? duration_text(intervals.usual)
                : duration_text(intervals.low) + " to " + duration_text(intervals.high)) +
           "; a gap is a silence longer than " + std::to_string(kGapIntervals) + " intervals";
}

std::string gap_list(const PlotModel& model) {
    if (model.intervals.gaps.empty()) {
        return "";
    }
    std::string out = "<table class=\"gaps\">\n<thead><tr><th>gap from (UTC)</th>"
                      "<th>to (UTC)</th><th>MJD from</th><th>MJD to</th><th>length</th>"
                      "</tr></thead>\n<tbody>\n";
    for (const Gap& gap : model.intervals.gaps) {
        out += "<tr>" + cell(utc_text(gap.start, 6)) + cell(utc_text(gap.end, 6)) +
               cell(number_text(static_cast<double>(gap.start) / kMicroDaysPerDay, 6)) +
               cell(number_text(static_cast<double>(gap.end) / kMicroDaysPerDay, 6)) +
               cell(duration_text(gap.end - gap.start)) + "</tr>\n";
    }
    return out + "</tbody>\n</table>\n";
}

} // namespace

std::string duration_text(MicroDay length) {
    if (length > 0 && length < 12) { // under a second: 86.4 ms a microday
        return std::to_string(std::llround(static_cast<double>(length) * 86.4)) + " ms";
    }
    const std::int64_t seconds = std::llround(static_cast<double>(length) * 0.0864);
    const std::int64_t units[] = {86400, 3600, 60, 1};
    const char* names[] = {"d", "h", "min", "s"};
    for (int i = 0; i < 3; ++i) {
        if (seconds >= units[i]) {
            const std::int64_t rest = seconds % units[i] / units[i + 1];
            return std::to_string(seconds / units[i]) + " " + names[i] +
                   (rest > 0 ? " " + std::to_string(rest) + " " + names[i + 1] : "");
        }
    }
    return std::to_string(seconds) + " s";
}

std::string render_html(const PlotModel& model, int width, const std::string& title,
                        const std::string& heading, const std::string& inputs) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    const std::string name = title.empty() ? "Maser telemetry" : title;
    out += "<title>" + xml_escaped(name + ": " + heading) + "</title>\n<style>" + kStyle +
           "</style>\n";
    out += "</head>\n<body>\n<h1>" + xml_escaped(name) + "</h1>\n<p>" + xml_escaped(heading) +
           interval_text(model.intervals) + ".</p>\n";
    out += "<table class=\"stats\">\n<thead><tr><th>channel</th><th>what</th><th>unit</th>"
           "<th>records</th><th>min</th><th>mean</th><th>max</th><th>last</th><th>change</th>"
           "<th>gaps</th><th>time in gaps</th><th>longest gap</th></tr></thead>\n<tbody>\n";
    for (const ChannelPlot& channel : model.channels) {
        out += stats_row(channel, model.gaps);
    }
    out += "</tbody>\n</table>\n";
    out += render_svg(model, width, title.empty() ? heading : title + ": " + heading, false);
    out += gap_list(model);
    out += "<p>Read from:</p>\n<ul class=\"inputs\">\n" + inputs + "</ul>\n";
    out += "</body>\n</html>\n";
    return out;
}
