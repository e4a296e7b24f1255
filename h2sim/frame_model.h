// The simulated maser's telemetry: frames whose channels read like a healthy
// maser's, encoded through the channel table (channel_put_value).
#pragma once

#include "telemetry/channels.h"

#include <cstdint>
#include <vector>

using Frame = std::vector<std::uint8_t>;

// A maser is its seed: the seed sets its own normal level of each channel
// (masers differ, within what a healthy one shows) and the set points of its
// frequency-lock loop, and keys every random draw, so that a frame is a pure
// function of the seed and what it is asked for.
class FrameModel {
public:
    explicit FrameModel(std::uint64_t seed) : seed_(seed) {}

    // The frame for poll number `poll` on the simulated line: each measured
    // channel wanders around the maser's level over hundreds of polls with a
    // little jitter, the loop's tuning codes wander, the reserved bytes change
    // from frame to frame.
    Frame frame(std::uint64_t poll) const;

    // The frame of record number `record` taken at `mjd` (UTC), for simulated
    // days and weeks: each measured channel at the maser's level, moved by the
    // daily swing of the room (the ovens work harder in the cool of the night,
    // the loop's fine tuning follows the cavity) and by Gaussian noise of the
    // channel's jitter times `jitter`. With a story, its channel's level is
    // the story's, with the same swing and noise on it.
    struct StoryLevel {
        const char* channel;
        double level;
    };
    Frame frame_at(double mjd, std::uint64_t record, double jitter = 1.0,
                   const StoryLevel* story = nullptr) const;

private:
    void fill_reserved(std::uint8_t* frame, std::uint64_t key) const;
    void fill_set_points(std::uint8_t* frame) const;
    double level(int slot, double spread) const;
    double drift(std::uint64_t poll, int slot) const;

    std::uint64_t seed_;
};
