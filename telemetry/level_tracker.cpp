#include "telemetry/level_tracker.h"

#include <algorithm>
#include <cmath>

namespace {

// Weight of a new reading in the level and in the mean change: the level
// follows within some 16 readings (the daily swing moves it far less in that
// time than the noise does), the noise estimate over some 64.
constexpr double kLevelWeight = 1.0 / 16;
constexpr double kChangeWeight = 1.0 / 64;
// The threshold in noise standard deviations and in counts of resolution.
constexpr double kNoiseFactor = 8;
constexpr double kResolutionFactor = 2;

template <std::size_t N> double median(std::array<float, N> values) {
    const auto middle = values.begin() + N / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

LevelTracker::LevelTracker(double resolution)
    // Never 0: a reading equal to the level is no change.
    : least_threshold_(std::max(kResolutionFactor * resolution, 1e-9)) {}

double LevelTracker::threshold() const {
    return std::max(least_threshold_, kNoiseFactor * noise());
}

void LevelTracker::take(double value) {
    if (seen_ == 0) {
        level_ = value;
    } else {
        // While settling, the level is the mean so far and the noise the mean change.
        const double weight =
            seen_ < kSettleReadings ? 1.0 / static_cast<double>(seen_ + 1) : kLevelWeight;
        level_ += weight * (value - level_);
        const double change_weight =
            seen_ < kSettleReadings ? 1.0 / static_cast<double>(seen_) : kChangeWeight;
        mean_change_ += change_weight * (std::fabs(value - previous_) - mean_change_);
    }
    previous_ = value;
    ++seen_;
}

LevelTracker::Outcome LevelTracker::hold(double mjd, double value) {
    if (held_count_ == 0) {
        held_since_ = mjd;
    }
    held_[static_cast<std::size_t>(held_count_++)] = static_cast<float>(value);
    if (held_count_ < kConfirmReadings) {
        return Outcome::kHeld;
    }
    step_ = {held_since_, level_, median(held_)};
    level_ = step_.after;
    previous_ = held_[kConfirmReadings - 1];
    held_count_ = 0;
    return Outcome::kStepped;
}

LevelTracker::Outcome LevelTracker::add(double mjd, double value) {
    if (!settled()) {
        take(value);
        return Outcome::kTaken;
    }
    const double t = threshold();
    const double from_level = value - level_;
    const int side = from_level > 0 ? 1 : -1;
    if (held_count_ > 0) {
        // A held change goes on while the readings stay beyond half the threshold on its side.
        if (side == held_side_ && std::fabs(from_level) >= t / 2) {
            return hold(mjd, value);
        }
        held_count_ = 0; // a spike, dropped
    }
    if (std::fabs(from_level) >= t) {
        held_side_ = side;
        return hold(mjd, value);
    }
    take(value);
    return Outcome::kTaken;
}
