#include "telemetry/logbook.h"

#include "telemetry/channels.h"
#include "telemetry/subsystems.h"
#include "telemetry/text_file.h"
#include "telemetry/time_text.h"

#include <algorithm>
#include <optional>

namespace {

std::string_view trimmed(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// The first word of `text` (after blanks), and `text` moved past it.
std::string_view take_word(std::string_view* text) {
    const std::size_t start = std::min(text->find_first_not_of(" \t"), text->size());
    const std::size_t end = std::min(text->find_first_of(" \t", start), text->size());
    const std::string_view word = text->substr(start, end - start);
    text->remove_prefix(end);
    return word;
}

// The time at the start of `line`, and `line` moved past it; false when there is none.
bool take_time(std::string_view* line, double* mjd) {
    std::string text(take_word(line));
    // A date, a blank and a time of day are one time.
    std::string_view rest = *line;
    const std::string_view clock = take_word(&rest);
    if (text.size() == 10 && clock.size() >= 5 && clock[2] == ':') {
        text += ' ';
        text += clock;
        *line = rest;
    }
    const std::optional<MicroDay> t = parse_time(text);
    if (!t) {
        return false;
    }
    *mjd = static_cast<double>(*t) / kMicroDaysPerDay;
    return true;
}

// Adds a subject's channels to the entry; false when no subject has that name.
bool add_subject(std::string_view name, LogbookEntry* entry) {
    if (name == "note") {
        entry->note = true;
        return true;
    }
    if (name == "all") {
        for (int row = 0; row < kChannelCount; ++row) {
            if (channel_shown(kChannels[row]) &&
                channel_kind(kChannels[row]) != ChannelKind::kReserved) {
                entry->rows |= std::uint64_t{1} << row;
            }
        }
        return true;
    }
    if (const SubsystemChannels* group = subsystem_named(name)) {
        for (const char* channel : group->channels) {
            entry->rows |= std::uint64_t{1} << channel_row_named(channel);
        }
        return true;
    }
    const int row = channel_row_named(name);
    if (row < 0 || channel_kind(kChannels[row]) == ChannelKind::kReserved) {
        return false;
    }
    entry->rows |= std::uint64_t{1} << row;
    return true;
}

bool parse_entry(std::string_view line, LogbookEntry* entry, std::string* error) {
    if (!take_time(&line, &entry->mjd)) {
        *error = "no time at the start: write it as 2026-12-10 14:05 (UTC) or as an MJD";
        return false;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        *error = "no colon after what the entry concerns: TIME SUBJECTS: WHAT";
        return false;
    }
    std::string_view subjects = line.substr(0, colon);
    entry->what = std::string(trimmed(line.substr(colon + 1)));
    std::size_t at = 0;
    while ((at = subjects.find_first_not_of(" \t,", at)) != std::string_view::npos) {
        const std::size_t end = std::min(subjects.find_first_of(" \t,", at), subjects.size());
        const std::string_view name = subjects.substr(at, end - at);
        if (!add_subject(name, entry)) {
            *error = "\"" + std::string(name) +
                     "\" is no subject: give subsystems (supplies, signals, vacuum, hydrogen, "
                     "ovens, FLL), channels, all, or note";
            return false;
        }
        entry->subjects += (entry->subjects.empty() ? "" : " ") + std::string(name);
        at = end;
    }
    if (entry->rows == 0 && !entry->note) {
        *error = "no subject before the colon: say what the entry concerns (a subsystem, a "
                 "channel, all), or note";
        return false;
    }
    if (entry->what.empty()) {
        *error = "nothing after the colon: say what was done";
        return false;
    }
    return true;
}

} // namespace

std::vector<LogbookEntry> read_logbook(std::string_view text, const std::string& file,
                                       std::vector<std::string>& errors) {
    std::vector<LogbookEntry> entries;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        LogbookEntry entry;
        std::string error;
        entry.from = file + ":" + std::to_string(number);
        if (parse_entry(line, &entry, &error)) {
            entries.push_back(std::move(entry));
        } else {
            errors.push_back(entry.from + ": " + error);
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const LogbookEntry& a, const LogbookEntry& b) { return a.mjd < b.mjd; });
    return entries;
}

std::vector<LogbookEntry> read_logbook_file(const std::string& path,
                                            std::vector<std::string>& errors) {
    std::string text;
    if (!read_text_file(path, &text, errors)) {
        return {};
    }
    return read_logbook(text, path, errors);
}
