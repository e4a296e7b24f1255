// One channel's level record by record: a smoothed level that follows slow
// change (the daily swing of the room), an estimate of the reading-to-reading
// noise, and the steps, sudden changes of level that stay.
//
// A reading further from the level than the threshold (eight times the noise
// or, for a measurement, two counts of its resolution, whichever is more) is
// held, not taken: if the readings after it go back, it was a spike and is
// dropped; if kConfirmReadings readings in a row stay beyond half the
// threshold on the same side, the level has stepped, at the time of the first
// of them, from the level before (itself a mean of some 16 readings) to the
// median of those readings. For a code that the loop sets (no noise), every change that lasts
// is a step. Which steps are worth reporting is the caller's choice.
#pragma once

#include <array>
#include <cstdint>

struct LevelStep {
    double mjd;    // the first reading at the new level
    double before; // the level before and after
    double after;
};

class LevelTracker {
public:
    static constexpr int kConfirmReadings = 5;

    // `resolution`: one count of the channel (0 for a code, whose counts are
    // whole numbers).
    explicit LevelTracker(double resolution);

    enum class Outcome {
        kTaken,   // the reading is part of the level
        kHeld,    // held: a spike, or the start of a change not yet confirmed
        kStepped, // a step is confirmed (step()); the held readings (held()) are now taken
    };

    Outcome add(double mjd, double value);

    // The level, and whether there is one yet (after the first readings).
    double level() const { return level_; }
    bool settled() const { return seen_ >= kSettleReadings; }
    // The reading-to-reading noise as a standard deviation.
    double noise() const { return mean_change_ * kSigmaPerMeanChange; }

    // The step confirmed by the last add().
    const LevelStep& step() const { return step_; }
    // The readings that confirmed it.
    const std::array<float, kConfirmReadings>& held() const { return held_; }

private:
    static constexpr int kSettleReadings = 16;
    // sigma = sqrt(pi) / 2 times the mean absolute change between two
    // readings, for Gaussian noise.
    static constexpr double kSigmaPerMeanChange = 0.886227;

    double threshold() const;
    void take(double value);
    Outcome hold(double mjd, double value);

    double least_threshold_; // the resolution's counts
    double level_ = 0;
    double mean_change_ = 0;
    double previous_ = 0;
    std::uint32_t seen_ = 0;
    // A change waiting to be confirmed.
    int held_count_ = 0;
    int held_side_ = 0;
    double held_since_ = 0;
    std::array<float, kConfirmReadings> held_{};
    LevelStep step_{};
};
