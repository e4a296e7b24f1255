#include "h2plot/page_state.h"

#include "h2plot/html_report.h"
#include "h2plot/number_text.h"
#include "telemetry/channels.h"
#include "telemetry/health_rules.h"
#include "telemetry/time_text.h"

#include <algorithm>
#include <cmath>

namespace {

const HealthSettings kSettings;

bool measurement(int row) {
    return channel_kind(kChannels[row]) == ChannelKind::kMeasurement;
}

std::string time_text(double mjd) {
    return utc_text(micro_days(mjd), 4) + " UTC";
}

std::string level_badge(HealthLevel level) {
    const std::string name = health_level_name(level);
    return "<span class=\"level " + name + "\">" + name + "</span>";
}

// Since when a subsystem has been as it is, and for how long up to the last
// record; short, for the column under "since".
std::string since_text(const PageHealth& health, const HealthReport& report, double since) {
    if (micro_days(since) <= health.first) {
        return "the first record analysed";
    }
    return time_text(since) + " (" + duration_text(micro_days(report.mjd) - micro_days(since)) +
           ")";
}

// A row a subsystem; the reasons' column only when one has a reason.
std::string subsystem_rows(const PageHealth& health, const HealthReport& report, unsigned drawn) {
    const bool reasons = !report.findings.empty();
    std::string out = "<table class=\"subsystems\">\n<thead><tr><th>subsystem</th><th>state</th>"
                      "<th>since</th>" +
                      std::string(reasons ? "<th>why</th>" : "") + "</tr></thead>\n<tbody>\n";
    for (const SubsystemHealth& s : report.subsystems) {
        const char* name = subsystem_name(s.subsystem);
        const bool linked = (drawn & 1u << static_cast<unsigned>(s.subsystem)) != 0;
        out += std::string("<tr class=\"") + health_level_name(s.level) + "\"><td>" +
               (linked ? "<a href=\"#" + subsystem_anchor(name) + "\">" + name + "</a>"
                       : std::string(name)) +
               "</td><td>" + level_badge(s.level) + "</td><td class=\"since\">" +
               since_text(health, report, s.since_mjd) + "</td>" +
               (reasons ? "<td>" + xml_escaped(s.why) + "</td>" : "") + "</tr>\n";
    }
    return out + "</tbody>\n</table>\n";
}

bool forecast_ahead(const ChannelState& c, double now) {
    return c.forecast.ahead && c.forecast.mjd >= now;
}

// Says so when nothing moves; names the channels whose trend is not known yet.
std::string steadiness(const HealthReport& report) {
    bool steady = report.findings.empty() && report.steps.empty();
    std::vector<const ChannelState*> unknown;
    for (const ChannelState& c : report.channels) {
        if (!measurement(c.row)) {
            continue;
        }
        if (!c.trend.known) {
            unknown.push_back(&c);
        }
        // A trend not known yet is not known to be steady.
        steady = steady && c.trend.known && c.trend.direction == Direction::kSteady &&
                 !forecast_ahead(c, report.mjd);
    }
    std::string out;
    if (report.findings.empty()) {
        out += steady ? "<p class=\"steady\">Every subsystem is ok and every channel is steady: no "
                        "trend, no step, no forecast.</p>\n"
                      : "<p class=\"steady\">Every subsystem is ok.</p>\n";
    }
    // The channels that started again together (at the analysis's start, or
    // at a logbook entry) are named together.
    while (!unknown.empty()) {
        const double start = unknown.front()->start_mjd;
        std::string names;
        for (auto it = unknown.begin(); it != unknown.end();) {
            if ((*it)->start_mjd == start) {
                names += (names.empty() ? "" : ", ") + std::string(kChannels[(*it)->row].name);
                it = unknown.erase(it);
            } else {
                ++it;
            }
        }
        out += "<p class=\"unknown\">No trend yet for " + names +
               ": a trend rests on a day of records at least, and theirs start at " +
               time_text(start) + ".</p>\n";
    }
    return out;
}

std::string forecasts(const HealthReport& report) {
    std::vector<const ChannelState*> ahead;
    for (const ChannelState& c : report.channels) {
        if (forecast_ahead(c, report.mjd)) {
            ahead.push_back(&c);
        }
    }
    std::sort(ahead.begin(), ahead.end(), [](const ChannelState* a, const ChannelState* b) {
        return a->forecast.mjd < b->forecast.mjd;
    });
    std::string out = "<h3>Forecasts</h3>\n";
    if (ahead.empty()) {
        return out + "<p>No channel heads for a limit.</p>\n";
    }
    out += "<ul class=\"forecasts\">\n";
    for (const ChannelState* c : ahead) {
        const bool near = c->forecast.mjd - report.mjd <= kSettings.horizon_days;
        out += std::string("<li class=\"") + (near ? "attention" : "ok") + "\">" +
               xml_escaped(forecast_text(*c, report.mjd)) + ", around " +
               utc_text(micro_days(c->forecast.mjd), 0) + "</li>\n";
    }
    return out + "</ul>\n";
}

std::string step_item(const HealthStep& step) {
    const int row = step.row;
    const MicroDay t = micro_days(step.mjd);
    // A measurement by its size, from and to; a code from and to.
    const std::string from_to =
        "from " + value_text(row, step.before) + " to " + value_text(row, step.after);
    const double change = step.after - step.before;
    const std::string how = measurement(row) ? "by " + std::string(change > 0 ? "+" : "") +
                                                   value_text(row, change) + " (" + from_to + ")"
                                             : from_to;
    std::string item = std::string("<li class=\"") +
                       (step.explained_by.empty() ? "attention" : "ok") + "\"><b>" +
                       kChannels[row].name + "</b> (" + xml_escaped(channel_what(row)) +
                       ") stepped " + how + " on " + weekday_name(t) + " " + utc_text(t, 0) +
                       " at " + utc_text(t, 4).substr(11) + " UTC";
    item += step.explained_by.empty()
                ? ": not explained by the logbook"
                : ", explained by the logbook: " + xml_escaped(step.explained_by);
    return item + "</li>\n";
}

std::string steps(const HealthReport& report) {
    std::string out =
        "<h3>Steps in the last " + number_text(kSettings.recent_days, 0) + " days</h3>\n";
    if (report.steps.empty()) {
        return out + "<p>No step.</p>\n";
    }
    out += "<ul class=\"steps\">\n";
    for (const HealthStep& step : report.steps) {
        out += step_item(step);
    }
    return out + "</ul>\n";
}

// What an entry starts again: the trends and normal levels of the
// measurements it concerns, unless it is a note.
std::string restarts(const LogbookEntry& entry) {
    if (entry.note) {
        return " (a note: it starts nothing again)";
    }
    std::string names;
    int count = 0, all = 0;
    for (int row = 1; row < kChannelCount; ++row) {
        if (measurement(row) && channel_shown(kChannels[row])) {
            ++all;
            if (entry.concerns(row)) {
                ++count;
                names += (names.empty() ? "" : ", ") + std::string(kChannels[row].name);
            }
        }
    }
    if (count == 0) {
        return "";
    }
    return " (the trends and normal levels of " + (count == all ? "every channel" : names) +
           " start again)";
}

std::string logbook(const MaserFiles& maser, MicroDay lo, MicroDay hi) {
    std::string out = "<h3>Logbook</h3>\n";
    if (maser.logbook_path.empty()) {
        return out + "<p>No logbook was given.</p>\n";
    }
    const std::string path = xml_escaped(maser.logbook_path);
    if (!maser.logbook_found) {
        return out + "<p>No logbook at " + path +
               ": interventions written there, a line each (TIME SUBJECTS: WHAT), are marked on "
               "the panels and listed here.</p>\n";
    }
    const std::vector<LogbookMark> marks = logbook_marks(maser.logbook, lo, hi);
    if (marks.empty()) {
        return out + "<p>No entry of " + path + " falls in this range.</p>\n";
    }
    out += "<ol class=\"logbook\">\n";
    std::size_t i = 0;
    for (const LogbookEntry& entry : maser.logbook) {
        const MicroDay t = micro_days(entry.mjd);
        if (t >= lo && t <= hi) {
            out += "<li value=\"" + marks[i++].label + "\">" + time_text(entry.mjd) + " <b>" +
                   xml_escaped(entry.subjects) + "</b>: " + xml_escaped(entry.what) +
                   restarts(entry) + "</li>\n";
        }
    }
    return out + "</ol>\n<p>From " + path + ".</p>\n";
}

std::string errors(const MaserFiles& maser) {
    if (maser.errors.empty()) {
        return "";
    }
    std::string out = "<h3>Lines not read</h3>\n<ul class=\"errors\">\n";
    for (const std::string& error : maser.errors) {
        out += "<li>" + xml_escaped(error) + "</li>\n";
    }
    return out + "</ul>\n";
}

const ChannelState* state_of(const PageHealth& health, int row) {
    return health.report ? health.report->channel(row) : nullptr;
}

} // namespace

std::vector<LogbookMark> logbook_marks(const std::vector<LogbookEntry>& logbook, MicroDay lo,
                                       MicroDay hi) {
    std::vector<LogbookMark> marks;
    for (const LogbookEntry& entry : logbook) {
        const MicroDay t = micro_days(entry.mjd);
        if (t >= lo && t <= hi) {
            marks.push_back({t, std::to_string(marks.size() + 1),
                             time_text(entry.mjd) + " " + entry.subjects + ": " + entry.what});
        }
    }
    return marks;
}

std::string subsystem_anchor(const char* name) {
    std::string id = std::string("panels-") + name;
    for (char& c : id) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return id;
}

std::string render_state(const PageHealth& health, const MaserFiles& maser, MicroDay lo,
                         MicroDay hi, unsigned drawn) {
    std::string out = "<section class=\"state\">\n";
    if (!health.report || health.report->mjd == 0) {
        out += "<h2>State: not judged</h2>\n<p>" + xml_escaped(health.missing) + "</p>\n";
    } else {
        const HealthReport& report = *health.report;
        const std::string basis =
            "At the last record, " + time_text(report.mjd) + ", from its records since " +
            time_text(static_cast<double>(health.first) / kMicroDaysPerDay) + " (" +
            duration_text(micro_days(report.mjd) - health.first) + ") and the logbook";
        // The analysis knows the records; that they stopped, the page says first.
        if (health.silent) {
            out += "<h2>State: <span class=\"level attention\">silent</span></h2>\n<p>No record "
                   "for the last " +
                   duration_text(health.end - micro_days(report.mjd)) +
                   " of the range: the maser or its logger has been silent. " + basis +
                   ", the maser was " + level_badge(report.level) + ".</p>\n";
        } else {
            out += "<h2>State: " + level_badge(report.level) + "</h2>\n<p>" + basis + ".</p>\n";
        }
        out += subsystem_rows(health, report, drawn);
        out += steadiness(report);
        out += forecasts(report);
        out += steps(report);
    }
    out += logbook(maser, lo, hi);
    out += errors(maser);
    return out + "</section>\n";
}

std::string trend_cell(const PageHealth& health, int row) {
    const ChannelState* c = state_of(health, row);
    if (c == nullptr || !measurement(row)) {
        return "";
    }
    if (!c->trend.known) {
        return "not known yet";
    }
    if (c->trend.direction == Direction::kSteady) {
        return "steady";
    }
    const std::string_view unit = channel_unit(kChannels[row]);
    return std::string(direction_name(c->trend.direction)) + " " +
           rough_text(std::fabs(c->trend.slope)) + (unit.empty() ? "" : " ") + std::string(unit) +
           " a day";
}

std::string channel_level(const PageHealth& health, int row) {
    if (!health.report || health.report->mjd == 0) {
        return "";
    }
    for (const Finding& f : health.report->findings) {
        if (f.row == row) {
            return health_level_name(f.level);
        }
    }
    return health_level_name(HealthLevel::kOk);
}

std::string subsystem_level(const PageHealth& health, Subsystem subsystem) {
    if (!health.report || health.report->mjd == 0) {
        return "";
    }
    return health_level_name(health.report->subsystems[static_cast<std::size_t>(subsystem)].level);
}
