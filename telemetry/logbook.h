// A maser's logbook: the interventions and events an operator records beside
// the data, one line each, in a file per maser (/var/log/h2mon/NAME.logbook),
// in a form that can be typed or appended with echo:
//
//     2026-12-10 14:05 hydrogen: new bottle fitted, 150 bar
//     2026-12-11T09:30Z ovens, FLL: cavity tuned
//     2026-12-12 08:00 note supplies: mains cut for 20 min, on battery
//     echo "$(date -u '+%F %R') vacuum: pump elements replaced" >> /var/log/h2mon/east.logbook
//
// TIME SUBJECTS: WHAT. TIME is UTC: a date and a time of day (HH:MM, with
// :SS if wanted), with a space or a T between them and an optional Z, or an
// MJD. SUBJECTS, up to the colon, are what the entry concerns: subsystems
// (supplies, signals, vacuum, hydrogen, ovens, FLL), channels (H2_atm), or
// all (the whole maser), separated by commas or spaces. An entry changes the
// maser: the trends, forecasts and normal levels of the channels it concerns
// start again from its time, and their steps near it are explained by it. The
// word note among the subjects makes it an event that changes nothing: it
// explains steps and starts nothing again. Blank lines and lines starting
// with # are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct LogbookEntry {
    double mjd = 0;         // when it was done (UTC)
    std::uint64_t rows = 0; // bit (1 << row) for each channel table row it concerns
    bool note = false;      // an event only: nothing starts again
    std::string subjects;   // as written, cleaned: "ovens, FLL", "note supplies"
    std::string what;       // what was done, as written
    std::string from;       // "FILE:LINE"

    bool concerns(int row) const { return (rows >> row & 1u) != 0; }
};

// The entries of a logbook's text, in time order (entries of one time in the
// order written). Each bad line adds "FILE:LINE: what is wrong" to `errors`;
// the other lines are still read.
std::vector<LogbookEntry> read_logbook(std::string_view text, const std::string& file,
                                       std::vector<std::string>& errors);

// The same from the file at `path`; no entries and no error when it does not exist.
std::vector<LogbookEntry> read_logbook_file(const std::string& path,
                                            std::vector<std::string>& errors);
