#include "telemetry/channels.h"

#include "telemetry/check.h"
#include "telemetry/hex.h"

#include <cmath>
#include <cstring>

// clang-format off
const CHANNEL kChannels[kChannelCount] = {
    {1, 3, "Rsvd1", "Reserved", 0, 0},
    {4, 5, "Batt_V", "Accumulator voltage", 0.016336, 0},
    {6, 7, "Ext_V", "External power source voltage", 0.03055, 0},
    {8, 9, "p27_V1", "Internal DC/DC converter +27/+27 V", 0.016277, 0},
    {10, 11, "p15_V", "Voltage of power source +15 V", 0.01645, 0},
    {12, 13, "n15_V", "Voltage of power source -15 V", 0.01645, 0},
    {14, 15, "p5_V", "Voltage of power source +5 V", 0.0158, 0},
    {16, 17, "p3p3_V", "Voltage of power source +3.3 V", 0.0155, 0},
    {18, 19, "p27_V2", "Voltage of AC/DC converter ~220/+27 V", 0.01642, 0},
    {20, 21, "f5M1_V", "Level of signal 5 MHz #1, VRMS", 0.0024414, 0},
    {22, 23, "f5M2_V", "Level of signal 5 MHz #2, VRMS", 0.0024414, 0},
    {24, 25, "f5MI_V", "Level of internal signal 5 MHz, VRMS", 0.0024414, 0},
    {26, 27, "f10M_V", "Level of signal 10 MHz, VRMS", 0.0024414, 0},
    {28, 29, "f100M_V", "Level of signal source 100 MHz, VRMS", 0.0024414, 0},
    {30, 33, "Rsvd2", "Reserved", 0, 0},
    {34, 35, "f20p4M_V", "Level of frequency synthesizer signal 20.40575168 MHz, VRMS", 0.0024414, 0},
    {36, 37, "IF_V", "Receiver IF level, VRMS", 0.0024414, 0},
    {38, 41, "Rsvd3", "Reserved", 0, 0},
    {42, 43, "Ion_kV", "Pump voltage, kV", 0.0024414, 0},
    {44, 45, "Ion_uA", "Pump current, uA", 0.24414, 0},
    {46, 47, "Pure_V", "Purifier voltage, V", 0.0024414, 0},
    {48, 49, "Pure_A", "Purifier current, A", 0.0024414, 0},
    {50, 51, "Rsvd4", "Reserved", 0, 0},
    {52, 53, "HFO_A", "HFO current, A", 0.0024414, 0},
    {54, 55, "HFO_V", "HFO voltage, V", 0.0161132, 0},
    {56, 57, "Disch_V", "Voltage of discharge sensor output, V", 0.0024414, 0},
    {58, 59, "CSide_V", "Voltage of side cavity oven, V", 0.024414, 0},
    {60, 61, "CBtm_V", "Voltage of bottom cavity oven, V", 0.024414, 0},
    {62, 63, "H2_V", "Voltage of molecular hydrogen source oven, V", 0.024414, 0},
    {64, 65, "H2_atm", "Pressure in molecular hydrogen source, atm", 0.0149755, -2},
    {66, 67, "Rsvd5", "Reserved", 0, 0},
    {68, 127, "RsvdDT1", "Reserved for digital thermostats", 0, 0},
    {128, 129, "AuxFLL1", "Auxiliary information of the FLL system", 0, 0},
    {130, 130, "FFCorrL", "Low-order nibble contains value of 15-th sign of fractional frequency correction code", 0, 0},
    {131, 133, "AuxFLL2", "Auxiliary information of the FLL system", 0, 0},
    {134, 135, "2H_V", "Output of second harmonic digital detector of the FLL system", 0, 0},
    {136, 147, "AuxFLL3", "Auxiliary information of the FLL system", 0, 0},
    {148, 149, "CCoarse", "DAC code of the auxiliary control voltage of the cavity (the FLL system)", 0, 0},
    {150, 151, "OCoarse", "DAC code of the auxiliary control voltage of the quartz oscillator (the FLL system)", 0, 0},
    {152, 153, "CFine", "DAC code of fine tuning of the cavity (the FLL system)", 0, 0},
    {154, 155, "OFine", "DAC code of fine tuning of the quartz oscillator (the FLL system)", 0, 0},
    {156, 157, "FFCorrH", "Fractional frequency correction code with precision of 10e-14 (four significant digits from 1e-11 to 1e-14)", 0, 0},
    {158, 163, "AuxFLL4", "Auxiliary information of FLL system", 0, 0},
    {164, 189, "RsvdDT2", "Reserved for digital thermostating system", 0, 0},
};
// clang-format on

bool channel_shown(const CHANNEL& channel) {
    return channel.first - 2 >= 0 && channel.last - 2 >= 0;
}

double channel_value(const std::uint8_t* frame, const CHANNEL& channel) {
    // A scaled channel is a 16-bit number: its span must be exactly two bytes.
    const int b0 = channel.first - 2;
    const int b1 = channel.last - 2;
    H2_ASSERT(b1 - b0 == 1);
    std::int16_t accumulator = 0;
    for (int k = channel.last - 2; k >= channel.first - 2; --k) {
        // Last position is the high byte: the field is little-endian.
        accumulator = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(static_cast<std::uint16_t>(accumulator) * 256u + frame[k]));
    }
    return static_cast<double>(accumulator) * channel.scale + channel.offset;
}

void channel_hex(const std::uint8_t* frame, const CHANNEL& channel, char* text) {
    for (int k = channel.last - 2; k >= channel.first - 2; --k) {
        put_hex_byte(frame[k], text);
        text += 2;
    }
    *text = '\0';
}

void channel_put_raw(std::uint8_t* frame, const CHANNEL& channel, std::uint16_t raw) {
    frame[channel.first - 2] = static_cast<std::uint8_t>(raw & 0xFF);
    frame[channel.last - 2] = static_cast<std::uint8_t>(raw >> 8);
}

void channel_put_value(std::uint8_t* frame, const CHANNEL& channel, double value) {
    double raw = std::round((value - channel.offset) / channel.scale);
    raw = std::fmax(-32768.0, std::fmin(32767.0, raw));
    channel_put_raw(frame, channel, static_cast<std::uint16_t>(static_cast<std::int16_t>(raw)));
}

ChannelKind channel_kind(const CHANNEL& channel) {
    if (channel.scale != 0) {
        return ChannelKind::kMeasurement;
    }
    return std::strncmp(channel.name, "Rsvd", 4) == 0 ? ChannelKind::kReserved : ChannelKind::kCode;
}

std::string_view channel_unit(const CHANNEL& channel) {
    if (channel_kind(channel) != ChannelKind::kMeasurement) {
        return {};
    }
    std::string_view name = channel.name;
    name.remove_prefix(name.rfind('_') + 1);
    while (!name.empty() && name.back() >= '0' && name.back() <= '9') {
        name.remove_suffix(1);
    }
    return name;
}

bool same_ignoring_case(std::string_view a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

int channel_row_named(std::string_view name) {
    for (int row = 0; row < kChannelCount; ++row) {
        if (same_ignoring_case(name, kChannels[row].name)) {
            return row;
        }
    }
    return -1;
}

const CHANNEL& channel_named(std::string_view name) {
    const int row = channel_row_named(name);
    H2_ASSERT(row >= 0);
    return kChannels[row];
}
