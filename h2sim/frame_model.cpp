#include "h2sim/frame_model.h"

#include "h2sim/random.h"

#include <cmath>
#include <cstring>

namespace {

// A measured channel: where a healthy maser keeps it and how far one maser's
// level lies from another's (`spread`, either way), how far it wanders over
// hundreds of polls on the simulated line, the reading-to-reading jitter, and
// the amplitude of its daily swing with the room's temperature.
struct Measurement {
    const char* name;
    double nominal;
    double spread;
    double drift;
    double jitter;
    double daily;
};

// clang-format off
const Measurement kMeasurements[] = {
    {"Batt_V",   26.90, 0.30,  0.20, 0.02,  0.05},
    {"Ext_V",    27.40, 0.30,  0.25, 0.05,  0.10},
    {"p27_V1",   27.00, 0.15,  0.10, 0.02,  0.01},
    {"p15_V",    15.02, 0.04,  0.05, 0.02,  0.005},
    {"n15_V",   -14.97, 0.04,  0.05, 0.02,  0.005},
    {"p5_V",      5.01, 0.02,  0.02, 0.016, 0.003},
    {"p3p3_V",    3.31, 0.015, 0.01, 0.016, 0.002},
    {"p27_V2",   27.10, 0.15,  0.10, 0.02,  0.01},
    {"f5M1_V",    1.02, 0.04,  0.02, 0.003, 0.002},
    {"f5M2_V",    1.01, 0.04,  0.02, 0.003, 0.002},
    {"f5MI_V",    0.98, 0.04,  0.02, 0.003, 0.002},
    {"f10M_V",    1.05, 0.04,  0.02, 0.003, 0.002},
    {"f100M_V",   0.96, 0.04,  0.02, 0.003, 0.002},
    {"f20p4M_V",  0.75, 0.04,  0.02, 0.003, 0.002},
    {"IF_V",      0.42, 0.04,  0.03, 0.005, 0.004},
    {"Ion_kV",    3.52, 0.05,  0.03, 0.005, 0.002},
    {"Ion_uA",   32.00, 6.00,  4.00, 0.5,   0.4},
    {"Pure_V",    6.80, 0.40,  0.10, 0.005, 0.02},
    {"Pure_A",    0.85, 0.05,  0.02, 0.003, 0.004},
    {"HFO_A",     0.21, 0.02,  0.01, 0.003, 0.001},
    {"HFO_V",    18.40, 0.50,  0.20, 0.02,  0.05},
    {"Disch_V",   2.60, 0.15,  0.08, 0.01,  0.02},
    {"CSide_V",  11.60, 1.00,  0.30, 0.03,  0.25},
    {"CBtm_V",    9.70, 0.80,  0.30, 0.03,  0.20},
    {"H2_V",      6.40, 0.50,  0.20, 0.03,  0.15},
    {"H2_atm",    0.30, 0.03,  0.03, 0.010, 0.0},
};
// clang-format on
constexpr int kMeasurementCount = sizeof kMeasurements / sizeof kMeasurements[0];

// The channel table's row of each measurement, looked up once.
const CHANNEL& measured(int i) {
    static const std::vector<const CHANNEL*> rows = [] {
        std::vector<const CHANNEL*> found;
        for (const Measurement& m : kMeasurements) {
            found.push_back(&channel_named(m.name));
        }
        return found;
    }();
    return *rows[static_cast<std::size_t>(i)];
}

// A code of the frequency-lock loop: a 16-bit code around a centre, the
// maser's own within `spread`. Set points (the coarse tuning and the
// frequency correction) stay where they are set; the fine tuning codes move
// as the loop tracks the cavity: `swing` on the simulated line, `daily` with
// the room, a count or two from frame to frame.
struct FllCode {
    const char* name;
    int centre;
    int spread;
    bool set_point;
    int swing;
    int daily;
};

const FllCode kFllCodes[] = {
    {"CCoarse", 0x8000, 0x0200, true, 0, 0},        {"OCoarse", 0x7C00, 0x0200, true, 0, 0},
    {"FFCorrH", 0x1200, 0x0100, true, 0, 0},        {"CFine", 0x8000, 0x0800, false, 0x1000, 0x100},
    {"OFine", 0x8400, 0x0800, false, 0x1000, 0x80}, {"2H_V", 0x0000, 0, false, 0x0040, 0},
};
constexpr int kFllCodeCount = sizeof kFllCodes / sizeof kFllCodes[0];

// Purposes of the random draws, so that no two draws share a key.
enum Draw : std::uint64_t { kPeriod = 1, kPhase, kJitter, kReserved, kLevel, kNoise };

// The hour of the day (UTC) at which the room is coldest and the ovens work hardest.
constexpr double kColdestHour = 4.0;

// Where in its daily swing a channel is at `mjd`: 1 at the coldest hour, -1
// twelve hours later.
double daily_phase(double mjd) {
    const double hours = (mjd - std::floor(mjd)) * 24.0;
    return std::cos(2.0 * M_PI * (hours - kColdestHour) / 24.0);
}

// A standard normal draw (Box-Muller).
double gaussian(Random& random) {
    const double u = 1.0 - random.uniform(); // in (0, 1]: its logarithm is finite
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * random.uniform());
}

void put_code(std::uint8_t* frame, const char* name, long value) {
    channel_put_raw(frame, channel_named(name), static_cast<std::uint16_t>(value));
}

} // namespace

// The maser's own level of the channel in slot `slot`: within `spread` of the centre.
double FrameModel::level(int slot, double spread) const {
    Random draw(hash_key(seed_, kLevel, static_cast<std::uint64_t>(slot)));
    return spread * (2.0 * draw.uniform() - 1.0);
}

// A slow swing between -1 and 1 whose period (300 to 3000 polls) and phase
// depend on the seed and the slot.
double FrameModel::drift(std::uint64_t poll, int slot) const {
    Random shape(hash_key(seed_, kPeriod, static_cast<std::uint64_t>(slot)));
    const double period = static_cast<double>(shape.range(300, 3000));
    const double phase = shape.uniform() * 2.0 * M_PI;
    return std::sin(2.0 * M_PI * static_cast<double>(poll) / period + phase);
}

void FrameModel::fill_reserved(std::uint8_t* frame, std::uint64_t key) const {
    // Reserved and auxiliary bytes first: random each frame; the channels with
    // a meaning are then written over them.
    Random reserved(hash_key(seed_, kReserved, key));
    for (int i = 0; i < kFrameLength; ++i) {
        frame[i] = static_cast<std::uint8_t>(reserved.next());
    }
}

void FrameModel::fill_set_points(std::uint8_t* frame) const {
    for (int i = 0; i < kFllCodeCount; ++i) {
        const FllCode& code = kFllCodes[i];
        if (code.set_point) {
            put_code(frame, code.name,
                     code.centre + std::lround(level(kMeasurementCount + i, code.spread)));
        }
    }
    // Only the low nibble of this byte carries a digit of the correction code.
    const CHANNEL& low = channel_named("FFCorrL");
    frame[low.first - 2] =
        static_cast<std::uint8_t>(std::lround(7.5 + level(kMeasurementCount + kFllCodeCount, 7.5)));
}

Frame FrameModel::frame(std::uint64_t poll) const {
    Frame frame(kFrameLength);
    fill_reserved(frame.data(), poll);
    for (int i = 0; i < kMeasurementCount; ++i) {
        const Measurement& m = kMeasurements[i];
        Random jitter(hash_key(seed_, kJitter, poll, static_cast<std::uint64_t>(i)));
        const double value = m.nominal + level(i, m.spread) + m.drift * drift(poll, i) +
                             m.jitter * (2.0 * jitter.uniform() - 1.0);
        channel_put_value(frame.data(), measured(i), value);
    }
    fill_set_points(frame.data());
    for (int i = 0; i < kFllCodeCount; ++i) {
        const FllCode& code = kFllCodes[i];
        const int slot = kMeasurementCount + i;
        if (!code.set_point) {
            Random jitter(hash_key(seed_, kJitter, poll, static_cast<std::uint64_t>(slot)));
            put_code(frame.data(), code.name,
                     code.centre + std::lround(level(slot, code.spread)) +
                         std::lround(code.swing * drift(poll, slot)) + jitter.range(-2, 2));
        }
    }
    return frame;
}

Frame FrameModel::frame_at(double mjd, std::uint64_t record, double jitter,
                           const StoryLevel* story) const {
    Frame frame(kFrameLength);
    fill_reserved(frame.data(), record);
    const double swing = daily_phase(mjd);
    Random noise(hash_key(seed_, kNoise, record));
    for (int i = 0; i < kMeasurementCount; ++i) {
        const Measurement& m = kMeasurements[i];
        const bool told = story != nullptr && std::strcmp(story->channel, m.name) == 0;
        const double own = told ? story->level : m.nominal + level(i, m.spread);
        const double value = own + m.daily * swing + m.jitter * jitter * gaussian(noise);
        channel_put_value(frame.data(), measured(i), value);
    }
    fill_set_points(frame.data());
    for (int i = 0; i < kFllCodeCount; ++i) {
        const FllCode& code = kFllCodes[i];
        if (!code.set_point) {
            const double value = code.centre + level(kMeasurementCount + i, code.spread) +
                                 code.daily * swing + 2.0 * jitter * gaussian(noise);
            put_code(frame.data(), code.name, std::lround(value));
        }
    }
    return frame;
}
