#include "tests/support/log_rows.h"

#include "telemetry/channels.h"
#include "telemetry/log_row.h"
#include "telemetry/mjd_time.h"

#include <random>
#include <stdexcept>

namespace h2test {

std::string log_row(const std::string& mjd, const ChannelFields& fields) {
    std::vector<std::string> values(kChannelCount);
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        values[row] = channel.scale != 0
                          ? "1.000"
                          : std::string(static_cast<std::size_t>(2 * channel_bytes(channel)), '0');
    }
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

std::string log_row(long long micro_days, const ChannelFields& fields) {
    // Six decimals of the nearest double: the microdays exactly, far below 2^53.
    return log_row(csv_mjd(static_cast<double>(micro_days) / 1e6), fields);
}

std::string random_row(const std::string& mjd, unsigned seed) {
    std::mt19937 random(seed);
    std::uint8_t frame[kFrameLength];
    for (std::uint8_t& byte : frame) {
        byte = static_cast<std::uint8_t>(random());
    }
    std::string row = mjd;
    append_csv_fields(row, frame);
    return row + "\n";
}

std::string mjd_text(double unix_seconds) {
    return csv_mjd(mjd_of_unix_seconds(unix_seconds));
}

std::string row_field(const std::string& row, const std::string& channel) {
    const int wanted = channel_row_named(channel);
    std::size_t start = 0;
    for (int piece = 0; piece < wanted; ++piece) {
        start = row.find(',', start) + 1;
    }
    const std::size_t end = row.find_first_of(",\n", start);
    return row.substr(start, end - start);
}

} // namespace h2test
