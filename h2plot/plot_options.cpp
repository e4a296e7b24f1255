#include "h2plot/plot_options.h"

#include "h2plot/maser_files.h"
#include "telemetry/channels.h"
#include "telemetry/subsystems.h"

#include "program/command_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

constexpr const char* kDefaultChannels[] = {"Ion_uA",  "H2_atm", "Pure_A",
                                            "CSide_V", "CBtm_V", "IF_V"};
constexpr int kMinWidth = 320;
constexpr int kMaxWidth = 20000;

std::string lower(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// "all", a group's name, or a channel's: the names of the channels meant.
std::vector<std::string> expanded(const std::string& name) {
    if (lower(name) == "all") {
        std::vector<std::string> all;
        for (int row = 0; row < kChannelCount; ++row) {
            if (plottable(row)) {
                all.push_back(kChannels[row].name);
            }
        }
        return all;
    }
    if (const SubsystemChannels* group = subsystem_named(name)) {
        return {group->channels.begin(), group->channels.end()};
    }
    return {name};
}

// The rows of the channels named; throws a validation error naming `option`.
std::vector<int> channel_rows(const std::vector<std::string>& given,
                              const std::string& option = "--channels") {
    std::vector<int> rows;
    std::vector<std::string> names;
    for (const std::string& name : given) {
        const std::vector<std::string> meant = expanded(name);
        names.insert(names.end(), meant.begin(), meant.end());
    }
    for (const std::string& name : names) {
        const int row = channel_row_named(name);
        if (row < 0 || !channel_shown(kChannels[row])) {
            throw CLI::ValidationError(option, "no channel is named \"" + name +
                                                   "\"; plottable: " + plottable_names());
        }
        if (!plottable(row)) {
            const bool reserved = channel_kind(kChannels[row]) == ChannelKind::kReserved;
            throw CLI::ValidationError(
                option, std::string(kChannels[row].name) +
                            (reserved ? " is a reserved field, with no agreed meaning"
                                      : " is a code too wide to plot as a number") +
                            "; plottable: " + plottable_names());
        }
        if (std::find(rows.begin(), rows.end(), row) == rows.end()) {
            rows.push_back(row);
        }
    }
    return rows;
}

// The first MJD of the maser era a bare number may name: 1990-01-01. A
// smaller number is more likely a year or a typing slip than an MJD.
constexpr double kFirstPlausibleMjd = 47892;

MicroDay time_option(const std::string& option, const std::string& text) {
    const std::optional<MicroDay> t = parse_time(text);
    if (t && text.find('-') == std::string::npos &&
        static_cast<double>(*t) < kFirstPlausibleMjd * kMicroDaysPerDay) {
        throw CLI::ValidationError(option, "\"" + text +
                                               "\" is an MJD before 1990; for a date give it in "
                                               "full (2026-12-10) or give the MJD (61384.5)");
    }
    if (!t) {
        throw CLI::ValidationError(option, "\"" + text +
                                               "\" is no time: give an MJD (61384.5) or a UTC "
                                               "date or date-time (2026-12-10, 2026-12-10T13:45Z)");
    }
    return *t;
}

// The present moment, to the microday.
MicroDay now() {
    const double unix_seconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return micro_days(static_cast<double>(kUnixEpochMjd) + unix_seconds / kSecondsPerDay);
}

OutputForm form_of(const std::string& output) {
    if (output == "-") {
        return OutputForm::kSvg;
    }
    const std::string name = lower(output);
    const auto ends_with = [&name](const std::string& end) {
        return name.size() > end.size() &&
               name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    if (ends_with(".svg")) {
        return OutputForm::kSvg;
    }
    if (ends_with(".html") || ends_with(".htm")) {
        return OutputForm::kHtml;
    }
    if (ends_with(".csv")) {
        return OutputForm::kCsv;
    }
    throw CLI::ValidationError("-o", "\"" + output +
                                         "\": the file's name ends in .svg, .html or .csv, which "
                                         "chooses the form; - writes SVG to standard output");
}

// A whole finite number, as "-5", "0.25" or "1e-6".
bool finite_number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(*value);
}

// "Ion_uA=0:5" or "Ion_uA=robust"; throws a validation error naming --range.
RangeChoice range_choice(const std::string& text) {
    const std::size_t equals = text.find('=');
    const std::string bad = "\"" + text + "\": give NAME=LO:HI (Ion_uA=0:5) or NAME=robust";
    if (equals == std::string::npos) {
        throw CLI::ValidationError("--range", bad);
    }
    RangeChoice choice;
    choice.row = channel_rows({text.substr(0, equals)}, "--range").front();
    const std::string value = text.substr(equals + 1);
    if (lower(value) == "robust") {
        choice.robust = true;
        return choice;
    }
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || !finite_number(value.substr(0, colon), &choice.lo) ||
        !finite_number(value.substr(colon + 1), &choice.hi) || !(choice.lo < choice.hi)) {
        throw CLI::ValidationError("--range", bad);
    }
    return choice;
}

} // namespace

const char* const kDefaultLimitsDir = H2PLOT_LIMITS_DIR;

std::optional<MicroDay> parse_span(std::string_view text) {
    constexpr std::int64_t kMaxCount = 100000; // weeks: some 1900 years, far below overflow
    if (text.size() < 2 || text.size() > 8) {
        return std::nullopt;
    }
    std::int64_t count = 0;
    for (char c : text.substr(0, text.size() - 1)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        count = count * 10 + (c - '0');
    }
    if (count == 0 || count > kMaxCount) {
        return std::nullopt;
    }
    switch (text.back()) {
    case 'h':
        return count * kMicroDaysPerDay / 24;
    case 'd':
        return count * kMicroDaysPerDay;
    case 'w':
        return count * 7 * kMicroDaysPerDay;
    default:
        return std::nullopt;
    }
}

bool plottable(int row) {
    const CHANNEL& channel = kChannels[row];
    switch (channel_kind(channel)) {
    case ChannelKind::kMeasurement:
        return channel_shown(channel);
    case ChannelKind::kCode:
        return code_is_number(channel);
    case ChannelKind::kReserved:
        return false;
    }
    return false;
}

std::string plottable_names() {
    std::string names;
    for (int row = 0; row < kChannelCount; ++row) {
        if (plottable(row)) {
            names += (names.empty() ? "" : ",") + std::string(kChannels[row].name);
        }
    }
    return names;
}

std::optional<int> parse_plot_options(int argc, const char* const* argv, PlotOptions& options,
                                      std::ostream& out, std::ostream& err) {
    CLI::App app("Plots the telemetry in h2mon's CSV logs (plain or gzip-compressed) as stacked "
                 "panels over one time axis, to an SVG picture or a self-contained HTML page.");
    set_up_command_line(app, "h2plot");
    std::vector<std::string> channels(std::begin(kDefaultChannels), std::end(kDefaultChannels));
    std::string from, to, last;
    std::string groups;
    for (const SubsystemChannels& group : subsystem_channels()) {
        groups += std::string("\n  ") + group.name + ": ";
        for (const char* channel : group.channels) {
            groups += std::string(channel) + (channel == group.channels.back() ? "" : ",");
        }
    }
    app.add_option("--channels", channels,
                   "Channels to plot, by their CSV names in any case, comma-separated; all "
                   "for every plottable channel, or a group:" +
                       groups)
        ->delimiter(',')
        ->type_name("LIST")
        ->default_str(CLI::detail::join(channels));
    app.add_option("--from", from, "Start of the time range: an MJD or a UTC date or date-time")
        ->type_name("TIME");
    app.add_option("--to", to, "End of the time range (included); default: the end of the data")
        ->type_name("TIME");
    app.add_option("--last", last,
                   "The time range is this span up to --to, or up to now: 12h, 7d, 2w "
                   "(for a page rebuilt on a timer)")
        ->type_name("SPAN")
        ->excludes("--from");
    app.add_option("--title", options.title, "A title before the time range (the maser's name)")
        ->type_name("TEXT");
    std::string maser, limits_dir = kDefaultLimitsDir, logbook;
    app.add_option("--maser", maser,
                   "The maser, for its limits (DIR/NAME.limits) and its logbook (NAME.logbook "
                   "beside the logs); default: the NAME the logs are named by (NAME.csv, "
                   "NAME.csv.1, NAME.csv.2.gz)")
        ->type_name("NAME");
    app.add_option("--limits", limits_dir,
                   "Folder of the limits that override the built-in table: limits.conf for every "
                   "maser, NAME.limits for this one")
        ->type_name("DIR")
        ->capture_default_str();
    app.add_option("--logbook", logbook,
                   "The maser's logbook (lines of TIME SUBJECTS: WHAT), marked on the panels and "
                   "listed on the page; default: NAME.logbook beside the logs")
        ->type_name("FILE");
    std::vector<std::string> log_names, range_texts;
    app.add_option("--log", log_names,
                   "Channels on a logarithmic value axis, comma-separated (Ion_uA is by itself "
                   "when it spans two decades or more)")
        ->delimiter(',')
        ->type_name("LIST");
    app.add_option("--range", range_texts,
                   "A channel's value axis: NAME=LO:HI fixed, or NAME=robust (leaving out the "
                   "outer half percent); values beyond it are marked at the frame; may be repeated")
        ->type_name("NAME=LO:HI");
    app.add_option("--width", options.width,
                   "Width of the picture in pixels, " + std::to_string(kMinWidth) + " to " +
                       std::to_string(kMaxWidth))
        ->type_name("PX")
        ->check(CLI::Range(kMinWidth, kMaxWidth))
        ->capture_default_str();
    app.add_option(
           "-o,--output", options.output,
           "Output file: FILE.svg or FILE.html, or FILE.csv for the numbers behind the picture "
           "(per pixel column the time and each channel's min, mean, max and count); - for "
           "SVG on standard output")
        ->type_name("FILE")
        ->capture_default_str();
    app.add_option("LOG", options.logs,
                   "h2mon logs in any order, plain or gzip-compressed; - is standard input")
        ->type_name("")
        ->required();
    return parse_command_line(app, argc, argv, out, err, [&] {
        options.rows = channel_rows(channels);
        options.log_rows = channel_rows(log_names, "--log");
        for (const std::string& text : range_texts) {
            options.ranges.push_back(range_choice(text));
            const RangeChoice& range = options.ranges.back();
            if (!range.robust && range.lo <= 0 &&
                std::count(options.log_rows.begin(), options.log_rows.end(), range.row) > 0) {
                throw CLI::ValidationError("--log", "--range " + text +
                                                        " reaches 0 or below, which a "
                                                        "logarithmic axis does not show");
            }
        }
        options.from = from.empty() ? std::nullopt : std::optional(time_option("--from", from));
        options.to = to.empty() ? std::nullopt : std::optional(time_option("--to", to));
        if (!last.empty()) {
            const std::optional<MicroDay> span = parse_span(last);
            if (!span) {
                throw CLI::ValidationError("--last", "\"" + last +
                                                         "\" is no span: a whole number and h, d "
                                                         "or w, as 12h, 7d or 2w");
            }
            options.to = options.to ? options.to : std::optional(now());
            options.from = *options.to - *span;
        }
        if (options.from && options.to && *options.from > *options.to) {
            throw CLI::ValidationError("--from", "the range starts after it ends (--to)");
        }
        options.form = form_of(options.output);
        options.maser = maser.empty() ? maser_of_logs(options.logs) : maser;
        options.limits_dir = limits_dir;
        options.logbook_given = !logbook.empty();
        options.logbook =
            options.logbook_given ? logbook : logbook_beside(options.logs, options.maser);
    });
}
