// h2plot: plots the telemetry in h2mon's CSV logs.
#include "h2plot/column_csv.h"
#include "h2plot/health_window.h"
#include "h2plot/html_report.h"
#include "h2plot/log_input.h"
#include "h2plot/maser_files.h"
#include "h2plot/number_text.h"
#include "h2plot/plot_data.h"
#include "h2plot/plot_options.h"
#include "h2plot/svg_plot.h"
#include "h2plot/value_axis.h"
#include "program/atomic_file.h"
#include "telemetry/channels.h"
#include "program/exit_code.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Fine bins per pixel column: enough that a bin straddling two columns moves
// a record by at most a fraction of a pixel; fewer (down to one) where many
// channels over many columns would otherwise take more than kMostCells.
constexpr int kBinsPerColumn = 8;
constexpr int kFewestBinsPerColumn = 1;
constexpr std::int64_t kMostCells = 250000;

int fine_bins(int columns, std::size_t channels) {
    const std::int64_t per_column =
        kMostCells / (static_cast<std::int64_t>(columns) * std::max<std::size_t>(channels, 1));
    return columns * static_cast<int>(std::clamp<std::int64_t>(per_column, kFewestBinsPerColumn,
                                                               kBinsPerColumn));
}

std::string mjd_text(MicroDay t) {
    return number_text(static_cast<double>(t) / kMicroDaysPerDay, 6);
}

std::string records_text(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " record" : " records");
}

// To the second in UTC and to the microday (h2mon's resolution) in MJD.
std::string time_text(MicroDay t) {
    return utc_text(t, 6) + " UTC (MJD " + mjd_text(t) + ")";
}

// What there is instead of records in the range: where the nearest are.
std::string no_records(const PlotData& data, bool ranged) {
    std::string text = ranged ? "no records in the time range" : "no records";
    const std::optional<MicroDay> before = data.last_before();
    const std::optional<MicroDay> after = data.first_after();
    if (before && after) {
        return text + "; the last before it was at " + time_text(*before) + ", the next at " +
               time_text(*after);
    }
    if (before) {
        return text + "; the last record was at " + time_text(*before);
    }
    if (after) {
        return text + "; the first record is at " + time_text(*after);
    }
    return text + (ranged ? "; the logs hold none" : "");
}

// The range and its records; a range without any says where they are, on
// the page itself.
std::string heading(const PlotModel& model, const PlotData& data, bool ranged) {
    const TimeColumns& time = model.time;
    return utc_text(time.lo, 6) + " to " + utc_text(time.hi, 6) + " UTC (MJD " + mjd_text(time.lo) +
           " to " + mjd_text(time.hi) + "), " +
           (data.empty() ? no_records(data, ranged) : records_text(data.rows()));
}

std::string input_items(const InputCounts& counts) {
    std::string items;
    for (const InputSpan& span : counts.spans) {
        items += "<li>" + xml_escaped(span.path) + ": " + records_text(span.rows);
        if (span.rows > 0) {
            items += ", " + utc_text(micro_days(span.first), 6) + " to " +
                     utc_text(micro_days(span.last), 6) + " UTC";
        }
        items += "</li>\n";
    }
    for (const std::string& unreadable : counts.unreadable) {
        items += "<li>" + xml_escaped(unreadable) + "</li>\n";
    }
    return items;
}

// Writes the whole text; the same bytes on every system. A file is replaced
// whole, so that a page rebuilt on a timer is never served half-written.
bool write_output(const std::string& path, const std::string& text, std::string& error) {
    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
            std::fflush(stdout) == 0) {
            return true;
        }
        error = std::string("standard output: ") + std::strerror(errno);
        return false;
    }
    return replace_file(path, text, false, error);
}

void report_input(const InputCounts& counts, const PlotData& data) {
    for (const std::string& unreadable : counts.unreadable) {
        std::cerr << "h2plot: " << unreadable << "; the other logs are plotted\n";
    }
    for (const std::string& damage : counts.damaged) {
        std::cerr << "h2plot: " << damage << "; the rows before the damage are plotted\n";
    }
    if (counts.malformed > 0) {
        std::cerr << "h2plot: " << counts.malformed << " malformed line"
                  << (counts.malformed == 1 ? "" : "s")
                  << " skipped (the first: " << counts.first_malformed << ")\n";
    }
    if (counts.unusable > 0) {
        std::uint64_t values = 0;
        std::string channels;
        for (std::size_t i = 0; i < data.channels(); ++i) {
            if (data.unusable(i) > 0) {
                values += data.unusable(i);
                channels += std::string(channels.empty() ? "" : ", ") +
                            kChannels[data.row(i)].name + " " + std::to_string(data.unusable(i));
            }
        }
        std::cerr << "h2plot: " << values << (values == 1 ? " value that is" : " values that are")
                  << " no number left out: " << channels << " (the first: " << counts.first_unusable
                  << ")\n";
    }
    if (data.back_in_time() > 0) {
        std::cerr << "h2plot: " << data.back_in_time()
                  << (data.back_in_time() == 1 ? " row goes" : " rows go")
                  << " back in time (the first to MJD " << mjd_text(data.first_back_in_time())
                  << "); the gaps are found from the times the rows carry\n";
    }
}

// The value axis of each panel, as asked and as its values need; a
// logarithmic one asked for and not drawn is said.
std::vector<ValueAxis> value_axes(const PlotData& data, const PlotOptions& options) {
    std::vector<ValueAxis> axes;
    for (std::size_t i = 0; i < data.channels(); ++i) {
        const PanelScale scale = scale_asked(data.row(i), data.overall(i), options);
        axes.push_back(value_axis(scale, data.overall(i), data.samples(i)));
        if (scale.log && !axes.back().log && data.overall(i).count > 0) {
            std::cerr << "h2plot: " << kChannels[data.row(i)].name
                      << " has no value above 0 for a logarithmic axis (--log); it is drawn on a "
                         "linear one\n";
        }
    }
    return axes;
}

void report_maser_files(const PlotOptions& options, const MaserFiles& maser) {
    for (const std::string& error : maser.errors) {
        std::cerr << "h2plot: " << error << "\n";
    }
    if (options.logbook_given && !maser.logbook_found) {
        std::cerr << "h2plot: no logbook " << options.logbook << "\n";
    }
}

// The state the page opens with, from the analysis of the records before
// the range's end: with no end given, the logs are read again for them.
PageHealth judge(HealthWindow& window, const PlotData& data, const InputCounts& counts,
                 const PlotModel& model) {
    PageHealth health;
    const std::vector<Gap>& gaps = model.intervals.gaps;
    health.silent = !gaps.empty() && gaps.back().at_edge && gaps.back().end == model.time.hi;
    if (!window.end()) {
        if (!data.latest()) {
            health.missing = "No record to judge the maser by.";
            return health;
        }
        window.set_end(*data.latest());
        if (!window.read_again(counts.spans)) {
            health.missing = "The state rests on the records before the end of the range, and a "
                             "log on standard input cannot be read again for them: give the end "
                             "(--to or --last).";
            return health;
        }
    }
    health.end = *window.end();
    health.report = window.report();
    if (health.report->mjd == 0) {
        health.missing = "No record in the " + duration_text(HealthWindow::span()) +
                         " up to the end of the range, " + utc_text(health.end, 4) + " UTC.";
        return health;
    }
    health.first = *window.first();
    return health;
}

// Every row to the plot and, for a page, to the analysis of the days before
// the range's end, when it is known (`to`).
void read_logs(LogInput& input, PlotData& data, HealthWindow* window,
               const std::optional<MicroDay>& to) {
    if (window == nullptr) {
        input.read([&data](const LogRow& row) { return data.add(row); });
        return;
    }
    if (to) {
        window->set_end(*to);
    }
    input.read([&](const LogRow& row) {
        window->add(row);
        return data.add(row);
    });
}

int run(const PlotOptions& options) {
    const MaserFiles maser = read_maser_files(options.limits_dir, options.maser, options.logbook);
    report_maser_files(options, maser);
    LogInput input(options.logs);
    input.order();
    const int columns = plot_columns(options.width);
    PlotData data(options.rows, options.from, options.to, fine_bins(columns, options.rows.size()));
    // Only the page judges the maser.
    const bool page = options.form == OutputForm::kHtml;
    HealthWindow window(maser.limits, page ? maser.logbook : std::vector<LogbookEntry>{});
    read_logs(input, data, page ? &window : nullptr, options.to);
    const InputCounts& counts = input.counts();
    report_input(counts, data);
    const bool ranged = options.from || options.to;
    if (data.empty()) {
        std::cerr << "h2plot: " << no_records(data, ranged);
        // A range of both ends with nothing in it is still a picture, all of
        // it a gap (the page of a maser gone silent); with an end open there
        // is no time axis to draw.
        if (!options.from || !options.to) {
            std::cerr << "; nothing plotted\n";
            return kExitFailed;
        }
        std::cerr << "\n";
    }
    // The bins hold the most columns; the labels' margin takes some of them.
    const std::vector<ValueAxis> axes = value_axes(data, options);
    const PlotModel model = data.model(svg_columns(axes, options.width), axes);
    const std::string range = heading(model, data, ranged);
    const std::string title = options.title.empty() ? range : options.title + ": " + range;
    const PictureNotes notes{&maser.limits,
                             logbook_marks(maser.logbook, model.time.lo, model.time.hi),
                             options.form == OutputForm::kSvg};
    std::string text;
    if (page) {
        const PageHealth health = judge(window, data, counts, model);
        text = render_html(
            model, options.width,
            {options.title, options.maser, range, input_items(counts), &maser, &health, notes});
    } else {
        text = options.form == OutputForm::kCsv
                   ? render_column_csv(model)
                   : render_svg(model, all_panels(model), options.width, title, true, notes);
    }
    std::string error;
    if (!write_output(options.output, text, error)) {
        std::cerr << "h2plot: cannot write " << error << "\n";
        return kExitFailed;
    }
    // The picture is written, but of nothing, or not of everything the logs
    // should have held.
    return !data.empty() && counts.damaged.empty() && counts.unreadable.empty() ? kExitDone
                                                                                : kExitFailed;
}

} // namespace

int main(int argc, char** argv) {
    PlotOptions options;
    if (const std::optional<int> exit_code =
            parse_plot_options(argc, argv, options, std::cout, std::cerr)) {
        return *exit_code;
    }
    return run(options);
}
