#include "h2sim/frame_model.h"

#include "h2sim/random.h"

#include <cmath>
#include <cstring>

namespace {

// A measured channel: where a healthy maser keeps it, how far it wanders over
// hundreds of polls, and the reading-to-reading jitter.
struct Measurement {
    const char* name;
    double nominal;
    double drift;
    double jitter;
};

// clang-format off
const Measurement kMeasurements[] = {
    {"Batt_V",   26.90, 0.20,  0.02},
    {"Ext_V",    27.40, 0.25,  0.05},
    {"p27_V1",   27.00, 0.10,  0.02},
    {"p15_V",    15.02, 0.05,  0.02},
    {"n15_V",   -14.97, 0.05,  0.02},
    {"p5_V",      5.01, 0.02,  0.016},
    {"p3p3_V",    3.31, 0.01,  0.016},
    {"p27_V2",   27.10, 0.10,  0.02},
    {"f5M1_V",    1.02, 0.02,  0.003},
    {"f5M2_V",    1.01, 0.02,  0.003},
    {"f5MI_V",    0.98, 0.02,  0.003},
    {"f10M_V",    1.05, 0.02,  0.003},
    {"f100M_V",   0.96, 0.02,  0.003},
    {"f20p4M_V",  0.75, 0.02,  0.003},
    {"IF_V",      0.42, 0.03,  0.005},
    {"Ion_kV",    3.52, 0.03,  0.005},
    {"Ion_uA",   32.00, 4.00,  0.5},
    {"Pure_V",    6.80, 0.10,  0.005},
    {"Pure_A",    0.85, 0.02,  0.003},
    {"HFO_A",     0.21, 0.01,  0.003},
    {"HFO_V",    18.40, 0.20,  0.02},
    {"Disch_V",   2.60, 0.08,  0.01},
    {"CSide_V",  11.60, 0.30,  0.03},
    {"CBtm_V",    9.70, 0.30,  0.03},
    {"H2_V",      6.40, 0.20,  0.03},
    {"H2_atm",    0.30, 0.12,  0.005},
};
// clang-format on
constexpr int kMeasurementCount = sizeof kMeasurements / sizeof kMeasurements[0];

// A DAC or correction code of the frequency-lock loop: a 16-bit code that
// wanders around a centre.
struct FllCode {
    const char* name;
    int centre;
    int swing;
};

const FllCode kFllCodes[] = {
    {"CCoarse", 0x8000, 0x0200}, {"OCoarse", 0x7C00, 0x0200}, {"CFine", 0x8000, 0x1000},
    {"OFine", 0x8400, 0x1000},   {"FFCorrH", 0x1200, 0x0100}, {"2H_V", 0x0000, 0x0040},
};

// Purposes of the random draws, so that no two draws share a key.
enum Draw : std::uint64_t { kPeriod = 1, kPhase, kJitter, kReserved };

} // namespace

// A slow swing between -1 and 1 whose period (300 to 3000 polls) and phase
// depend on the seed and the slot.
double FrameModel::drift(std::uint64_t poll, int slot) const {
    Random shape(hash_key(seed_, kPeriod, static_cast<std::uint64_t>(slot)));
    const double period = static_cast<double>(shape.range(300, 3000));
    const double phase = shape.uniform() * 2.0 * M_PI;
    return std::sin(2.0 * M_PI * static_cast<double>(poll) / period + phase);
}

void FrameModel::fill_measurements(std::uint8_t* frame, std::uint64_t poll) const {
    for (int i = 0; i < kMeasurementCount; ++i) {
        const Measurement& m = kMeasurements[i];
        Random jitter(hash_key(seed_, kJitter, poll, static_cast<std::uint64_t>(i)));
        const double value =
            m.nominal + m.drift * drift(poll, i) + m.jitter * (2.0 * jitter.uniform() - 1.0);
        channel_put_value(frame, channel_named(m.name), value);
    }
}

void FrameModel::fill_fll_codes(std::uint8_t* frame, std::uint64_t poll) const {
    int slot = kMeasurementCount;
    for (const FllCode& code : kFllCodes) {
        Random jitter(hash_key(seed_, kJitter, poll, static_cast<std::uint64_t>(slot)));
        const long value =
            code.centre + std::lround(code.swing * drift(poll, slot)) + jitter.range(-2, 2);
        channel_put_raw(frame, channel_named(code.name), static_cast<std::uint16_t>(value));
        ++slot;
    }
    // Only the low nibble of this byte carries a digit of the correction code.
    const CHANNEL& low = channel_named("FFCorrL");
    frame[low.first - 2] =
        static_cast<std::uint8_t>(std::lround(7.5 + 7.5 * drift(poll, slot)) & 0x0F);
}

Frame FrameModel::frame(std::uint64_t poll) const {
    // Reserved and auxiliary bytes first: random each frame; the channels
    // with a meaning are then written over them.
    Frame frame(kFrameLength);
    Random reserved(hash_key(seed_, kReserved, poll));
    for (std::uint8_t& byte : frame) {
        byte = static_cast<std::uint8_t>(reserved.next());
    }
    fill_measurements(frame.data(), poll);
    fill_fll_codes(frame.data(), poll);
    return frame;
}
