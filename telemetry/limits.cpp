#include "telemetry/limits.h"

#include "telemetry/channels.h"
#include "telemetry/log_row.h"
#include "telemetry/text_file.h"

#include <cstdio>
#include <filesystem>

namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (true) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos) {
            return found;
        }
        const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
}

// "LOW..HIGH" (either end may be empty) or "-".
bool parse_range(std::string_view text, LimitRange* range, std::string* error) {
    *range = LimitRange{};
    if (text == "-") {
        return true;
    }
    const std::size_t dots = text.find("..");
    if (dots == std::string_view::npos || (dots == 0 && text.size() == 2)) {
        *error = "\"" + std::string(text) + "\" is no range: write LOW..HIGH, ..HIGH, LOW.. or -";
        return false;
    }
    const std::string_view low = text.substr(0, dots);
    const std::string_view high = text.substr(dots + 2);
    if ((!low.empty() && !parse_decimal(low, &range->low)) ||
        (!high.empty() && !parse_decimal(high, &range->high))) {
        *error = "\"" + std::string(text) + "\" is no range: its ends must be decimal numbers";
        return false;
    }
    if (range->low > range->high) {
        *error = "the range " + std::string(text) + " ends below its start";
        return false;
    }
    range->set = true;
    return true;
}

bool parse_step(std::string_view text, double* step, std::string* error) {
    *step = 0;
    if (text == "-") {
        return true;
    }
    if (!parse_decimal(text, step) || *step <= 0) {
        *error = "\"" + std::string(text) + "\" is no step: give a size above 0, or -";
        return false;
    }
    return true;
}

// The channel of a line, or -1 with the reason in `error`. Measurements take
// every column; codes that read as numbers a step only.
int line_channel(std::string_view name, const ChannelLimits& limits, std::string* error) {
    const int row = channel_row_named(name);
    if (row < 0 || !channel_shown(kChannels[row])) {
        *error = "no channel is named \"" + std::string(name) + "\"";
        return -1;
    }
    const CHANNEL& channel = kChannels[row];
    switch (channel_kind(channel)) {
    case ChannelKind::kReserved:
        *error = std::string(channel.name) + " is a reserved field, with no agreed meaning";
        return -1;
    case ChannelKind::kCode:
        if (!code_is_number(channel)) {
            *error = std::string(channel.name) + " is a code too wide to read as a number";
            return -1;
        }
        if (limits.normal.set || limits.alarm.set) {
            *error = std::string(channel.name) +
                     " is a code of the FLL system: it has no normal band or alarm limits "
                     "(write - -), only a step";
            return -1;
        }
        return row;
    case ChannelKind::kMeasurement:
        return row;
    }
    return -1;
}

// One line's limits, or an error.
int parse_line(const std::vector<std::string_view>& fields, ChannelLimits* limits,
               std::string* error) {
    if (fields.size() != 4) {
        *error = "expected four columns, CHANNEL NORMAL ALARM STEP, not " +
                 std::to_string(fields.size());
        return -1;
    }
    if (!parse_range(fields[1], &limits->normal, error) ||
        !parse_range(fields[2], &limits->alarm, error) ||
        !parse_step(fields[3], &limits->step, error)) {
        return -1;
    }
    const int row = line_channel(fields[0], *limits, error);
    if (row < 0) {
        return -1;
    }
    if (limits->normal.set && limits->alarm.set &&
        (limits->normal.low < limits->alarm.low || limits->normal.high > limits->alarm.high)) {
        *error = "the normal band " + std::string(fields[1]) + " reaches beyond the alarm limits " +
                 std::string(fields[2]);
        return -1;
    }
    return row;
}

} // namespace

void LimitTable::read(std::string_view text, const std::string& file,
                      std::vector<std::string>& errors) {
    std::vector<int> line_of_row(kChannelCount, 0);
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> fields = words(line);
        if (fields.empty()) {
            continue;
        }
        const std::string where = file + ":" + std::to_string(number) + ": ";
        ChannelLimits limits;
        std::string error;
        const int row = parse_line(fields, &limits, &error);
        if (row < 0) {
            errors.push_back(where + error);
            continue;
        }
        if (line_of_row[static_cast<std::size_t>(row)] != 0) {
            errors.push_back(where + kChannels[row].name + " is given again (first on line " +
                             std::to_string(line_of_row[static_cast<std::size_t>(row)]) + ")");
            continue;
        }
        line_of_row[static_cast<std::size_t>(row)] = number;
        limits.from = file + ":" + std::to_string(number);
        rows_[static_cast<std::size_t>(row)] = limits;
    }
}

bool LimitTable::read_file(const std::string& path, std::vector<std::string>& errors) {
    std::string text;
    if (!read_text_file(path, &text, errors)) {
        return false;
    }
    read(text, path, errors);
    return true;
}

LimitTable LimitTable::defaults() {
    LimitTable table;
    std::vector<std::string> errors;
    table.read(default_limits_text(), "limits.conf (built in)", errors);
    return table;
}

LimitTable maser_limits(const std::string& dir, const std::string& name,
                        std::vector<std::string>& errors) {
    LimitTable table = LimitTable::defaults();
    table.read_file((std::filesystem::path(dir) / "limits.conf").string(), errors);
    table.read_file((std::filesystem::path(dir) / (name + ".limits")).string(), errors);
    return table;
}

std::string range_text(const LimitRange& range) {
    if (!range.set) {
        return "-";
    }
    auto end = [](double value) {
        if (!std::isfinite(value)) {
            return std::string();
        }
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return std::string(text);
    };
    return end(range.low) + ".." + end(range.high);
}
