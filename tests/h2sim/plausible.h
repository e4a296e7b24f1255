// The readings a healthy maser shows, channel by channel: what the simulator's
// frames must decode to.
#pragma once

#include <cstring>

struct PlausibleRange {
    const char* name;
    double low;
    double high;
};

// clang-format off
inline const PlausibleRange kPlausible[] = {
    {"Batt_V",   24.0,  29.0}, {"Ext_V",    24.0,  30.0}, {"p27_V1",  25.5,  28.5},
    {"p15_V",    14.5,  15.5}, {"n15_V",   -15.5, -14.5}, {"p5_V",     4.8,   5.2},
    {"p3p3_V",    3.1,   3.5}, {"p27_V2",   25.5,  28.5}, {"f5M1_V",   0.8,   1.2},
    {"f5M2_V",    0.8,   1.2}, {"f5MI_V",    0.8,   1.2}, {"f10M_V",   0.8,   1.2},
    {"f100M_V",   0.8,   1.2}, {"f20p4M_V",  0.3,   1.2}, {"IF_V",     0.1,   1.0},
    {"Ion_kV",    3.0,   4.0}, {"Ion_uA",   10.0,  90.0}, {"Pure_V",   3.0,  12.0},
    {"Pure_A",    0.3,   1.5}, {"HFO_A",     0.05,  0.5}, {"HFO_V",   10.0,  30.0},
    {"Disch_V",   1.0,   4.0}, {"CSide_V",   5.0,  20.0}, {"CBtm_V",   5.0,  20.0},
    {"H2_V",      3.0,  12.0}, {"H2_atm",    0.1,   0.5},
};
// clang-format on

// The range for a channel name, or null when the channel has none listed.
inline const PlausibleRange* plausible_range(const char* name) {
    for (const PlausibleRange& range : kPlausible) {
        if (std::strcmp(range.name, name) == 0) {
            return &range;
        }
    }
    return nullptr;
}
