// The health analysis behind the page's state: the maser's state at the end
// of the range, from the records of the days before it that the state rests
// on (the trend's week and, before it, the day the maser's own normal levels
// are learned from) and the whole logbook. Those days alone are analysed, so
// that a year's page costs little more than its picture, and the state is
// that of the end whatever the range's start: a week's page and a month's
// that end together agree.
#pragma once

#include "h2plot/log_input.h"
#include "telemetry/maser_health.h"
#include "telemetry/time_text.h"

#include <optional>
#include <string>
#include <vector>

class HealthWindow {
public:
    HealthWindow(const LimitTable& limits, const std::vector<LogbookEntry>& logbook);

    // The records analysed: those from this long before the end up to it.
    static MicroDay span();

    // The end, once known: the records within span() of it are analysed.
    void set_end(MicroDay end);
    const std::optional<MicroDay>& end() const { return end_; }

    // Takes a record when it falls within the window.
    void add(const LogRow& row);

    // With the end known only after the logs were read (no --to): reads again
    // the logs whose records reach into the window, as the first reading
    // found them (`spans`). False, taking nothing, when one of them is
    // standard input, which cannot be read again.
    bool read_again(const std::vector<InputSpan>& spans);

    // The first record analysed; empty when there was none.
    const std::optional<MicroDay>& first() const { return first_; }
    const MaserHealth& health() const { return health_; }
    HealthReport report() const { return health_.report(); }

private:
    MaserHealth health_;
    std::optional<MicroDay> end_;
    std::optional<MicroDay> first_;
};
