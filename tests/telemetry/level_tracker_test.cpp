// Steps, sudden changes of level that stay, told from spikes, slow change and noise.
#include "telemetry/level_tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

constexpr double kDay = 86400;
// A day of readings 10 s apart is a whole turn.
constexpr double kRadiansPerReading = 2 * 3.141592653589793 / 8640;

struct Found {
    int steps = 0;
    LevelStep last{};
    int held = 0;
};

// Feeds `count` readings 10 s apart of `value(i)` to a tracker.
Found feed(LevelTracker& tracker, int count, const std::function<double(int)>& value) {
    Found found;
    for (int i = 0; i < count; ++i) {
        switch (tracker.add(61000 + i * 10 / kDay, value(i))) {
        case LevelTracker::Outcome::kStepped:
            ++found.steps;
            found.last = tracker.step();
            break;
        case LevelTracker::Outcome::kHeld:
            ++found.held;
            break;
        case LevelTracker::Outcome::kTaken:
            break;
        }
    }
    return found;
}

// Noise of a few hundredths, on a grid of 0.024: an oven's reading.
double noisy(int i) {
    const double v = 11.6 + 0.03 * std::sin(i * 2.7) + 0.02 * std::cos(i * 1.3);
    return std::round(v / 0.024414) * 0.024414;
}

TEST(LevelTracker, AStepIsFoundAtItsFirstReadingWithItsSize) {
    const struct {
        const char* what;
        std::function<double(int)> value;
        int steps;
        double size; // of the last step
        int at;      // its first reading
    } cases[] = {
        {"a step of 1.4 V", [](int i) { return noisy(i) + (i >= 500 ? 1.4 : 0); }, 1, 1.4, 500},
        {"a step down", [](int i) { return noisy(i) - (i >= 700 ? 0.5 : 0); }, 1, -0.5, 700},
        {"a step within the noise", [](int i) { return noisy(i) + (i >= 900 ? 0.1 : 0); }, 0, 0, 0},
        {"one reading off", [](int i) { return noisy(i) + (i == 500 ? 5 : 0); }, 0, 0, 0},
        {"four readings off", [](int i) { return noisy(i) + (i >= 500 && i < 504 ? 5 : 0); }, 0, 0,
         0},
        {"a step back after five", [](int i) { return noisy(i) + (i >= 500 && i < 505 ? 5 : 0); },
         2, -5, 505},
        {"the same change over a day", [](int i) { return noisy(i) + 1.4 * i / 8640.0; }, 0, 0, 0},
        {"a daily swing", [](int i) { return noisy(i) + 0.3 * std::cos(kRadiansPerReading * i); },
         0, 0, 0},
    };
    for (const auto& c : cases) {
        LevelTracker tracker(0.024414);
        const Found found = feed(tracker, 3000, c.value);
        EXPECT_EQ(found.steps, c.steps) << c.what;
        if (c.steps > 0) {
            EXPECT_NEAR(found.last.after - found.last.before, c.size, 0.05 * std::fabs(c.size))
                << c.what;
            EXPECT_DOUBLE_EQ(found.last.mjd, 61000 + c.at * 10 / kDay) << c.what;
        }
    }
}

TEST(LevelTracker, ACodeStepsAtEveryLastingChange) {
    LevelTracker code(0);
    const Found changes = feed(code, 200, [](int i) {
        return i < 50 ? 0x8000 : i < 120 ? 0x8001 : 0x7FF0;
    });
    EXPECT_EQ(changes.steps, 2);
    EXPECT_EQ(changes.last.before, 0x8001);
    EXPECT_EQ(changes.last.after, 0x7FF0);
    EXPECT_DOUBLE_EQ(changes.last.mjd, 61000 + 120 * 10 / kDay);
}

} // namespace
