#include "h2plot/health_window.h"

#include <cmath>

HealthWindow::HealthWindow(const LimitTable& limits, const std::vector<LogbookEntry>& logbook)
    : health_(limits) {
    for (const LogbookEntry& entry : logbook) {
        health_.add_logbook_entry(entry);
    }
}

MicroDay HealthWindow::span() {
    const HealthSettings settings;
    const double days = settings.trend_days + settings.baseline_hours / 24;
    return static_cast<MicroDay>(std::ceil(days * kMicroDaysPerDay));
}

void HealthWindow::set_end(MicroDay end) {
    end_ = end;
}

void HealthWindow::add(const LogRow& row) {
    const MicroDay t = micro_days(row.mjd());
    if (!end_ || t > *end_ || t < *end_ - span()) {
        return;
    }
    if (!first_) {
        first_ = t;
    }
    health_.add(row);
}

bool HealthWindow::read_again(const std::vector<InputSpan>& spans) {
    if (!end_) {
        return false;
    }
    std::vector<std::string> paths;
    for (const InputSpan& input : spans) {
        if (input.rows > 0 && micro_days(input.last) >= *end_ - span()) {
            if (input.path == "-") {
                return false;
            }
            paths.push_back(input.path);
        }
    }
    LogInput again(paths);
    again.order();
    again.skip_before(static_cast<double>(*end_ - span()) / kMicroDaysPerDay);
    again.read([this](const LogRow& row) {
        add(row);
        return true;
    });
    return true;
}
