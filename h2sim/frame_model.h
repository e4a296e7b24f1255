// The simulated maser's telemetry: frames whose channels read like a healthy
// maser's, encoded through the channel table (channel_put_value).
#pragma once

#include "telemetry/channels.h"

#include <cstdint>
#include <vector>

using Frame = std::vector<std::uint8_t>;

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
