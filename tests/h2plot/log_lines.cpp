#include "tests/h2plot/log_lines.h"

#include "telemetry/channels.h"

#include <cstdio>
#include <stdexcept>

LogLines::LogLines() : defaults_(kChannelCount) {
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        defaults_[row] =
            channel.scale != 0 ? "1.000" : std::string(2 * (channel.last - channel.first + 1), '0');
    }
}

std::string LogLines::row(const std::string& mjd,
                          const std::vector<std::pair<std::string, std::string>>& fields) const {
    std::vector<std::string> values = defaults_;
    for (const auto& [name, value] : fields) {
        const int row = channel_row_named(name);
        if (row < 1) {
            throw std::invalid_argument("no channel " + name);
        }
        values[row] = value;
    }
    std::string line = mjd;
    for (int row = 1; row < kChannelCount; ++row) {
        line += ',';
        line += values[row];
    }
    return line;
}

std::string LogLines::row(long long micro_days,
                          const std::vector<std::pair<std::string, std::string>>& fields) const {
    return row(mjd_text(micro_days), fields);
}

std::string mjd_text(long long micro_days) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", micro_days / 1000000, micro_days % 1000000);
    return text;
}
