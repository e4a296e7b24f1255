// The simulated maser's telemetry: frames whose channels read like a healthy
// maser's, encoded through the program's own channel table.
#pragma once

#include "telemetry/channels.h"

#include <cstdint>
#include <vector>

using Frame = std::vector<std::uint8_t>;

// Stores the 16-bit value `raw` little-endian at the channel's two positions.
void put_channel_raw(std::uint8_t* frame, const CHANNEL& channel, std::uint16_t raw);

// Stores the raw value that decodes to `value`: round((value - offset) / scale),
// held to the 16-bit two's-complement range. The channel has a scale.
void put_channel_value(std::uint8_t* frame, const CHANNEL& channel, double value);

// The row of the channel table with the given name; every name the model uses
// is in the table.
const CHANNEL& channel_named(const char* name);

// Frames as a pure function of the seed and the poll number: each measured
// channel drifts slowly around its nominal value with a little jitter, the
// FLL codes wander, the reserved bytes change from frame to frame.
class FrameModel {
public:
    explicit FrameModel(std::uint64_t seed) : seed_(seed) {}

    Frame frame(std::uint64_t poll) const;

private:
    void fill_measurements(std::uint8_t* frame, std::uint64_t poll) const;
    void fill_fll_codes(std::uint8_t* frame, std::uint64_t poll) const;
    double drift(std::uint64_t poll, int slot) const;

    std::uint64_t seed_;
};
