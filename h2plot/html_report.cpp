#include "h2plot/html_report.h"

#include "h2plot/interval_estimate.h"
#include "h2plot/number_text.h"
#include "telemetry/channels.h"
#include "telemetry/health_rules.h"
#include "telemetry/subsystems.h"

#include <cctype>
#include <cmath>

namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:16px;color:#202020}"
    "h2{font-size:1.3em;margin:28px 0 8px}"
    "h3{font-size:1.05em;margin:18px 0 6px}"
    "table{border-collapse:collapse;margin:8px 0}"
    "th,td{padding:3px 8px;border-bottom:1px solid #d0d0d0;text-align:left;vertical-align:top}"
    ".scroll{overflow-x:auto}"
    // The numbers right-aligned: records, min, mean, max, last, change.
    ".stats th,.stats td{white-space:nowrap}"
    ".stats td:nth-child(n+4):nth-child(-n+9),.stats th:nth-child(n+4):nth-child(-n+9)"
    "{text-align:right}"
    ".stats td:nth-child(2){white-space:normal;min-width:14em}"
    ".stats tr.attention td:first-child{box-shadow:inset 4px 0 #e6a100}"
    ".stats tr.alarm td:first-child{box-shadow:inset 4px 0 #c62828}"
    ".level{display:inline-block;padding:0 8px;border-radius:3px;font-weight:bold}"
    ".level.ok{background:#dff0d8;color:#2e6b2e}"
    ".level.attention{background:#ffe8a8;color:#6b4a00}"
    ".level.alarm{background:#c62828;color:#fff}"
    "li.attention::marker{color:#e6a100}"
    ".subsystems td.since{white-space:nowrap}"
    "a{color:inherit}"
    ".legend .item{display:inline-block;margin-right:16px;white-space:nowrap}"
    ".legend .swatch{display:inline-block;width:16px;height:10px;margin-right:5px}"
    "svg{display:block;max-width:100%;height:auto}";

std::string cell(const std::string& text) {
    return "<td>" + text + "</td>";
}

bool is_code(int row) {
    return channel_kind(kChannels[row]) != ChannelKind::kMeasurement;
}

// Measurements with the three decimals h2mon logs them with; codes as the
// log prints them, for a code is a set point or a word of bits, not a quantity.
std::string value_cell(const ChannelPlot& channel, double value) {
    if (channel.overall.count == 0) {
        return cell("");
    }
    return cell(is_code(channel.row) ? value_text(channel.row, value) : number_text(value, 3));
}

// A measurement's change from its earliest values to its latest; a code's
// changes from one record to the next, counted.
std::string change_cell(const ChannelPlot& channel) {
    if (channel.overall.count == 0) {
        return cell("");
    }
    if (!is_code(channel.row)) {
        return cell(number_text(channel.change, 3));
    }
    return cell(channel.changes == 0   ? "unchanged"
                : channel.changes == 1 ? "1 change"
                                       : std::to_string(channel.changes) + " changes");
}

std::string stats_row(const ChannelPlot& channel, const PageHealth* health) {
    const CHANNEL& table_row = kChannels[channel.row];
    const Summary& all = channel.overall;
    const std::string level = health != nullptr ? channel_level(*health, channel.row) : "";
    return "<tr" + (level.empty() ? std::string() : " class=\"" + level + "\"") + ">" +
           cell(xml_escaped(table_row.name)) + cell(xml_escaped(table_row.description)) +
           cell(xml_escaped(unit_label(channel.row))) + cell(std::to_string(all.count)) +
           value_cell(channel, all.min) +
           (is_code(channel.row) ? cell("") : value_cell(channel, all.mean())) +
           value_cell(channel, all.max) + value_cell(channel, channel.last) + change_cell(channel) +
           cell(health != nullptr ? xml_escaped(trend_cell(*health, channel.row)) : "") + "</tr>\n";
}

std::string stats_table(const PlotModel& model, const PageHealth* health) {
    std::string out = "<div class=\"scroll\">\n<table class=\"stats\">\n<thead><tr>"
                      "<th>channel</th><th>what</th><th>unit</th><th>records</th><th>min</th>"
                      "<th>mean</th><th>max</th><th>last</th><th>change</th><th>trend</th></tr>"
                      "</thead>\n<tbody>\n";
    for (const ChannelPlot& channel : model.channels) {
        out += stats_row(channel, health);
    }
    return out + "</tbody>\n</table>\n</div>\n";
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

std::string gaps_text(const GapStats& gaps) {
    if (gaps.count == 0) {
        return "; no gap";
    }
    return "; " + std::to_string(gaps.count) + (gaps.count == 1 ? " gap, " : " gaps, ") +
           duration_text(gaps.total) + " in all" +
           (gaps.count == 1 ? "" : ", the longest " + duration_text(gaps.longest));
}

std::string gap_list(const PlotModel& model) {
    if (model.intervals.gaps.empty()) {
        return "";
    }
    std::string out = "<h2>Gaps</h2>\n<table class=\"gaps\">\n<thead><tr><th>gap from (UTC)</th>"
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

// The model's channels by subsystem, in the subsystems' order, each channel
// once (H2_V, the hydrogen source's oven, with the hydrogen); any other last.
std::vector<std::pair<const SubsystemChannels*, std::vector<std::size_t>>>
panel_groups(const PlotModel& model) {
    std::vector<std::pair<const SubsystemChannels*, std::vector<std::size_t>>> groups;
    std::vector<bool> placed(model.channels.size(), false);
    for (const SubsystemChannels& subsystem : subsystem_channels()) {
        std::vector<std::size_t> panels;
        for (std::size_t i = 0; i < model.channels.size(); ++i) {
            if (!placed[i] && (subsystems_of_row(model.channels[i].row) &
                               1u << static_cast<int>(subsystem.subsystem)) != 0) {
                panels.push_back(i);
                placed[i] = true;
            }
        }
        if (!panels.empty()) {
            groups.emplace_back(&subsystem, std::move(panels));
        }
    }
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        if (!placed[i]) {
            rest.push_back(i);
        }
    }
    if (!rest.empty()) {
        groups.emplace_back(nullptr, std::move(rest));
    }
    return groups;
}

// What the colours of the panels mean, a swatch beside each.
std::string legend(const PictureNotes& notes) {
    const auto item = [](const char* swatch, const char* what) {
        return std::string("<span class=\"item\"><span class=\"swatch\" style=\"") + swatch +
               "\"></span>" + what + "</span>";
    };
    std::string out = "<p class=\"legend\">" +
                      item("background:#9ecae1", "the range of a column's records") +
                      item("background:#08519c;height:2px", "their mean");
    if (notes.limits != nullptr) {
        out += item("background:#e8f5e4", "the normal band") +
               item("background:#fff3c4", "outside it") +
               item("background:#fcd9d9", "beyond an alarm limit") +
               item("border-top:2px dashed #d62728;height:0", "an alarm limit") +
               item("background:#f0a500;height:3px", "under a panel: when values were outside "
                                                     "the normal band") +
               item("background:#d62728;height:3px", "when beyond an alarm limit");
    }
    out += item("background:#fdd0a2", "a gap");
    if (!notes.marks.empty()) {
        out += item("border-left:2px dashed #7b3294;width:0", "a logbook entry, numbered as "
                                                              "listed above");
    }
    return out + "</p>\n";
}

std::string panels(const PlotModel& model, int width, const PageParts& parts) {
    std::string out = "<h2>Panels</h2>\n" + legend(parts.notes);
    for (const auto& [subsystem, indices] : panel_groups(model)) {
        std::string name = subsystem != nullptr ? subsystem->name : "other";
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        const std::string level = subsystem != nullptr && parts.health != nullptr
                                      ? subsystem_level(*parts.health, subsystem->subsystem)
                                      : "";
        out += "<h3" +
               (subsystem != nullptr ? " id=\"" + subsystem_anchor(subsystem->name) + "\""
                                     : std::string()) +
               ">" + name +
               (level.empty() ? "" : " <span class=\"level " + level + "\">" + level + "</span>") +
               "</h3>\n";
        out += render_svg(model, indices, width, "", false, parts.notes);
    }
    return out;
}

// The files the limits and the logbook came from.
std::string sources(const PageParts& parts) {
    std::string out = "<p>Read from:</p>\n<ul class=\"inputs\">\n" + parts.inputs;
    if (parts.maser != nullptr) {
        out += "<li>limits: the built-in table";
        for (const std::string& file : parts.maser->limit_files) {
            out += ", " + xml_escaped(file);
        }
        out += "</li>\n";
        if (parts.maser->logbook_found) {
            out += "<li>logbook: " + xml_escaped(parts.maser->logbook_path) + ", " +
                   std::to_string(parts.maser->logbook.size()) +
                   (parts.maser->logbook.size() == 1 ? " entry" : " entries") + "</li>\n";
        }
    }
    return out + "</ul>\n";
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

std::string render_html(const PlotModel& model, int width, const PageParts& parts) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    // The page is a maser's: named by its title, or else by the maser's name.
    const std::string name = !parts.title.empty()        ? parts.title
                             : !parts.maser_name.empty() ? parts.maser_name
                                                         : "Maser telemetry";
    out += "<title>" + xml_escaped(name + ": " + parts.heading) + "</title>\n<style>" + kStyle +
           "</style>\n";
    out += "</head>\n<body>\n<h1>" + xml_escaped(name) + "</h1>\n<p>" + xml_escaped(parts.heading) +
           interval_text(model.intervals) + gaps_text(model.gaps) + ".</p>\n";
    if (parts.health != nullptr && parts.maser != nullptr) {
        unsigned drawn = 0;
        for (const auto& group : panel_groups(model)) {
            drawn |=
                group.first != nullptr ? 1u << static_cast<unsigned>(group.first->subsystem) : 0u;
        }
        out += render_state(*parts.health, *parts.maser, model.time.lo, model.time.hi, drawn);
    }
    out += "<h2>Channels</h2>\n" + stats_table(model, parts.health);
    out += panels(model, width, parts);
    out += gap_list(model);
    out += sources(parts);
    out += "</body>\n</html>\n";
    return out;
}
