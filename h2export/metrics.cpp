#include "h2export/metrics.h"

#include <charconv>
#include <cmath>
#include <cstdint>

// clang-format off
const MetricFamily kMetricFamilies[kMetricFamilyCount] = {
    {"maser_supply_voltage_volts", "Supply voltage of the maser, by rail."},
    {"maser_signal_level_volts", "RMS level of an output or internal signal of the maser."},
    {"maser_ion_pump_voltage_volts", "Voltage of the maser's ion pump."},
    {"maser_ion_pump_current_amperes", "Current of the maser's ion pump."},
    {"maser_purifier_voltage_volts", "Voltage of the hydrogen purifier."},
    {"maser_purifier_current_amperes", "Current of the hydrogen purifier."},
    {"maser_hfo_current_amperes", "HFO current."},
    {"maser_hfo_voltage_volts", "HFO voltage."},
    {"maser_discharge_sensor_voltage_volts", "Output voltage of the discharge sensor."},
    {"maser_oven_voltage_volts", "Voltage of an oven of the maser (cavity side, cavity bottom, hydrogen source)."},
    {"maser_hydrogen_pressure_pascals", "Pressure in the molecular hydrogen source."},
    {"maser_fll_aux_code", "Auxiliary information of the FLL system, read as an unsigned number."},
    {"maser_fll_frequency_correction_low_code", "Low-order byte of the FLL's fractional frequency correction code."},
    {"maser_fll_second_harmonic_code", "Output of the FLL's second harmonic digital detector."},
    {"maser_fll_cavity_coarse_code", "DAC code of the FLL's auxiliary control voltage of the cavity."},
    {"maser_fll_oscillator_coarse_code", "DAC code of the FLL's auxiliary control voltage of the quartz oscillator."},
    {"maser_fll_cavity_fine_code", "DAC code of the FLL's fine tuning of the cavity."},
    {"maser_fll_oscillator_fine_code", "DAC code of the FLL's fine tuning of the quartz oscillator."},
    {"maser_fll_frequency_correction_high_code", "Fractional frequency correction code of the FLL (steps of 1e-14)."},
};

const ChannelMetric kChannelMetrics[kChannelMetricCount] = {
    {"Batt_V",   0, "rail", "battery", 0, 1},
    {"Ext_V",    0, "rail", "external", 0, 1},
    {"p27_V1",   0, "rail", "dcdc_p27", 0, 1},
    {"p15_V",    0, "rail", "p15", 0, 1},
    {"n15_V",    0, "rail", "n15", 0, 1},
    {"p5_V",     0, "rail", "p5", 0, 1},
    {"p3p3_V",   0, "rail", "p3v3", 0, 1},
    {"p27_V2",   0, "rail", "acdc_p27", 0, 1},
    {"f5M1_V",   1, "signal", "5mhz_1", 0, 1},
    {"f5M2_V",   1, "signal", "5mhz_2", 0, 1},
    {"f5MI_V",   1, "signal", "5mhz_internal", 0, 1},
    {"f10M_V",   1, "signal", "10mhz", 0, 1},
    {"f100M_V",  1, "signal", "100mhz", 0, 1},
    {"f20p4M_V", 1, "signal", "synth_20p4mhz", 0, 1},
    {"IF_V",     1, "signal", "receiver_if", 0, 1},
    {"Ion_kV",   2, nullptr, nullptr, 3, 1},
    {"Ion_uA",   3, nullptr, nullptr, -6, 1},
    {"Pure_V",   4, nullptr, nullptr, 0, 1},
    {"Pure_A",   5, nullptr, nullptr, 0, 1},
    {"HFO_A",    6, nullptr, nullptr, 0, 1},
    {"HFO_V",    7, nullptr, nullptr, 0, 1},
    {"Disch_V",  8, nullptr, nullptr, 0, 1},
    {"CSide_V",  9, "oven", "cavity_side", 0, 1},
    {"CBtm_V",   9, "oven", "cavity_bottom", 0, 1},
    {"H2_V",     9, "oven", "hydrogen_source", 0, 1},
    {"H2_atm",  10, nullptr, nullptr, 0, 101325},
    {"AuxFLL1", 11, "field", "1", 0, 1},
    {"AuxFLL2", 11, "field", "2", 0, 1},
    {"AuxFLL4", 11, "field", "4", 0, 1},
    {"FFCorrL", 12, nullptr, nullptr, 0, 1},
    {"2H_V",    13, nullptr, nullptr, 0, 1},
    {"CCoarse", 14, nullptr, nullptr, 0, 1},
    {"OCoarse", 15, nullptr, nullptr, 0, 1},
    {"CFine",   16, nullptr, nullptr, 0, 1},
    {"OFine",   17, nullptr, nullptr, 0, 1},
    {"FFCorrH", 18, nullptr, nullptr, 0, 1},
};
// clang-format on

namespace {

// Each channel metric's table row and kind, looked up once.
struct MetricRows {
    int row[kChannelMetricCount];
    bool code[kChannelMetricCount];
    MetricRows() {
        for (int m = 0; m < kChannelMetricCount; ++m) {
            row[m] = channel_row_named(kChannelMetrics[m].channel);
            code[m] = channel_kind(kChannels[row[m]]) == ChannelKind::kCode;
        }
    }
};

const MetricRows kMetricRows;

} // namespace

int channel_metric_row(int metric) {
    return kMetricRows.row[metric];
}

bool channel_metric_is_code(int metric) {
    return kMetricRows.code[metric];
}

namespace {

// `value` (parsed from `text`) times a whole `factor`, rounded once: the
// printed digits times the factor as an integer, then one division by a power
// of ten ("0.424" atm gives 42961.8 Pa, not 42961.799999999996).
double times_whole_factor(std::string_view text, double value, double factor) {
    std::uint64_t digits = 0;
    int count = 0;
    int decimals = 0;
    bool point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            decimals += point ? 1 : 0;
            ++count;
        } else if (c == '.') {
            point = true;
        }
    }
    constexpr double kExact = 9007199254740992.0; // 2^53
    const double product = static_cast<double>(digits) * factor;
    if (count > 15 || decimals > 22 || product >= kExact) {
        return value * factor;
    }
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double result = product / kPowers[decimals];
    return !text.empty() && text[0] == '-' ? -result : result;
}

} // namespace

bool metric_values(const LogRow& row, MetricValues* values) {
    for (int m = 0; m < kChannelMetricCount; ++m) {
        const ChannelMetric& metric = kChannelMetrics[m];
        const int r = channel_metric_row(m);
        double value;
        const bool ok = channel_metric_is_code(m)
                            ? row.value(r, &value)
                            : parse_decimal(row.field(r), metric.decimal_exponent, &value);
        if (!ok) {
            return false;
        }
        (*values)[m] = metric.factor == 1 ? value
                       : metric.decimal_exponent == 0 && metric.factor == std::floor(metric.factor)
                           ? times_whole_factor(row.field(r), value, metric.factor)
                           : value * metric.factor;
    }
    return true;
}

void append_sample_value(std::string& out, double value, bool code) {
    char buffer[64];
    const auto result =
        code ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::uint64_t>(value))
             : std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void append_labels(std::string& out, const std::string& maser, const ChannelMetric& metric) {
    out += "{maser=\"";
    out += maser;
    out += '"';
    if (metric.label_name != nullptr) {
        out += ',';
        out += metric.label_name;
        out += "=\"";
        out += metric.label_value;
        out += '"';
    }
    out += '}';
}
