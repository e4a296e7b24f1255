#include "tests/h2export/log_fixture.h"

#include "tests/support/gzip.h"
#include "tests/support/process.h"

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace h2export_test {

std::string mjd_now(double offset_seconds) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return mjd_text(now + offset_seconds);
}

void append_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << text;
}

void rotate_log(const std::string& log, Rotation how, bool compress) {
    namespace fs = std::filesystem;
    int last = 0;
    while (fs::exists(log + "." + std::to_string(last + 1)) ||
           fs::exists(log + "." + std::to_string(last + 1) + ".gz")) {
        ++last;
    }
    for (int k = last; k >= 1; --k) {
        for (const char* ending : {"", ".gz"}) {
            const std::string from = log + "." + std::to_string(k) + ending;
            if (fs::exists(from)) {
                fs::rename(from, log + "." + std::to_string(k + 1) + ending);
            }
        }
    }
    const std::string second = log + ".2";
    if (compress && fs::exists(second)) {
        h2test::write_text_file(second + ".gz", h2test::gzip(h2test::read_text_file(second)));
        fs::remove(second);
    }
    if (how == Rotation::kRename) {
        fs::rename(log, log + ".1");
    } else {
        fs::copy_file(log, log + ".1");
        fs::resize_file(log, 0);
    }
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

const std::vector<ChannelSeries> kCheckedSeries = {
    {"maser_supply_voltage_volts", "rail=\"battery\"", "Batt_V", 1},
    {"maser_supply_voltage_volts", "rail=\"n15\"", "n15_V", 1},
    {"maser_signal_level_volts", "signal=\"receiver_if\"", "IF_V", 1},
    {"maser_ion_pump_voltage_volts", nullptr, "Ion_kV", 1e3},
    {"maser_ion_pump_current_amperes", nullptr, "Ion_uA", 1e-6},
    {"maser_oven_voltage_volts", "oven=\"hydrogen_source\"", "H2_V", 1},
    {"maser_hydrogen_pressure_pascals", nullptr, "H2_atm", 101325},
    {"maser_fll_aux_code", "field=\"4\"", "AuxFLL4", 0},
    {"maser_fll_frequency_correction_low_code", nullptr, "FFCorrL", 0},
    {"maser_fll_cavity_coarse_code", nullptr, "CCoarse", 0},
    {"maser_fll_oscillator_fine_code", nullptr, "OFine", 0},
};

std::string textfile_series(const ChannelSeries& series, const std::string& maser) {
    return std::string(series.metric) + "{maser=\"" + maser + "\"" +
           (series.label != nullptr ? std::string(",") + series.label : "") + "}";
}

std::string dumped_series(const ChannelSeries& series, const std::string& maser) {
    // promtool prints the labels in the order of their names.
    std::vector<std::string> labels = {"maser=\"" + maser + "\""};
    if (series.label != nullptr) {
        labels.emplace_back(series.label);
    }
    std::sort(labels.begin(), labels.end());
    std::string name = std::string("{__name__=\"") + series.metric + "\"";
    for (const std::string& label : labels) {
        name += ", " + label;
    }
    return name + "}";
}

double series_value(const ChannelSeries& series, const std::string& row) {
    const std::string field = row_field(row, series.channel);
    return series.factor == 0 ? static_cast<double>(std::stoull(field, nullptr, 16))
                              : std::stod(field) * series.factor;
}

} // namespace h2export_test
