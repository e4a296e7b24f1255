#include "tests/h2export/log_fixture.h"

#include "telemetry/channels.h"
#include "telemetry/log_row.h"
#include "telemetry/mjd_time.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace h2export_test {

std::string h2mon_row(const std::string& mjd, unsigned seed) {
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
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", mjd_of_unix_seconds(unix_seconds));
    return text;
}

std::string mjd_now(double offset_seconds) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return mjd_text(now + offset_seconds);
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

void append_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << text;
}

bool eventually(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return ready();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string sample_of(const std::string& text, const std::string& series) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, series.size() + 1, series + " ") == 0) {
            return line.substr(series.size() + 1);
        }
    }
    return "";
}

} // namespace h2export_test
