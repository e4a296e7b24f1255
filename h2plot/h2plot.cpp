// h2plot: plots the telemetry in h2mon's CSV logs.
#include "h2plot/html_report.h"
#include "h2plot/log_input.h"
#include "h2plot/number_text.h"
#include "h2plot/plot_data.h"
#include "h2plot/plot_options.h"
#include "h2plot/svg_plot.h"
#include "program/exit_code.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Fine bins per pixel column: enough that a bin straddling two columns moves
// a record by at most a fraction of a pixel.
constexpr int kBinsPerColumn = 8;

std::string heading(const std::string& title, const PlotModel& model, const InputCounts& counts) {
    return (title.empty() ? "" : title + ": ") + utc_text(model.lo, 4) + " to " +
           utc_text(model.hi, 4) + " UTC (MJD " +
           number_text(static_cast<double>(model.lo) / kMicroDaysPerDay, 3) + " to " +
           number_text(static_cast<double>(model.hi) / kMicroDaysPerDay, 3) + "), " +
           std::to_string(counts.rows) + " records read";
}

// Writes the whole text; the same bytes on every system. A file is written
// beside its place and renamed into it, so that a page rebuilt on a timer is
// never read half-written.
bool write_output(const std::string& path, const std::string& text) {
    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
               std::fflush(stdout) == 0;
    }
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    std::error_code error;
    if (std::fclose(file) != 0 || !written) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        errno = error.value();
        return false;
    }
    return true;
}

void report_input(const InputCounts& counts) {
    for (const std::string& damage : counts.damaged) {
        std::cerr << "h2plot: " << damage << "; the rows before the damage are plotted\n";
    }
    if (counts.malformed > 0) {
        std::cerr << "h2plot: " << counts.malformed << " malformed line"
                  << (counts.malformed == 1 ? "" : "s")
                  << " skipped (the first: " << counts.first_malformed << ")\n";
    }
}

int run(const PlotOptions& options) {
    LogInput input(options.logs);
    std::string error;
    if (!input.order(error)) {
        std::cerr << "h2plot: " << error << "\n";
        return kExitFailed;
    }
    const int columns = plot_columns(options.width);
    PlotData data(options.rows, options.from, options.to, columns * kBinsPerColumn);
    input.read([&data](const LogRow& row) { return data.add(row); });
    report_input(input.counts());
    if (data.empty()) {
        std::cerr << "h2plot: no records"
                  << (options.from || options.to ? " in the time range" : "")
                  << "; nothing plotted\n";
        return kExitFailed;
    }
    const PlotModel model = data.model(columns);
    const std::string title = heading(options.title, model, input.counts());
    const std::string text = options.form == OutputForm::kHtml
                                 ? render_html(model, options.width, title)
                                 : render_svg(model, options.width, title, true);
    if (!write_output(options.output, text)) {
        std::cerr << "h2plot: cannot write " << options.output << ": " << std::strerror(errno)
                  << "\n";
        return kExitFailed;
    }
    // The picture is written, but not of everything the logs should have held.
    return input.counts().damaged.empty() ? kExitDone : kExitFailed;
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
