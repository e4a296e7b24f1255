#include "h2sim/scenario.h"

#include <cmath>

const std::vector<Scenario>& scenarios() {
    constexpr double d = kStoryDay;
    static const std::vector<Scenario> table = {
        {"vacuum-leak",
         "ion pump current 30 -> 150 uA over three weeks, growing exponentially",
         "Ion_uA",
         {{0, 30.0}, {21 * d, 150.0}},
         StoryShape::kGeometric},
        {"hydrogen-empty",
         "hydrogen source pressure 0.30 -> 0.05 atm over four weeks, at a constant flow",
         "H2_atm",
         {{0, 0.30}, {28 * d, 0.05}}},
        {"rail-sag",
         "+15 V supply rail 15.02 -> 14.0 V over a week",
         "p15_V",
         {{0, 15.02}, {2 * d, 14.95}, {7 * d, 14.0}}},
        {"signal-drop",
         "level of 5 MHz output #1 1.02 -> 0.60 VRMS on days 2 and 3",
         "f5M1_V",
         {{0, 1.02}, {1 * d, 1.02}, {3 * d, 0.60}}},
        {"oven-step",
         "cavity side oven voltage 11.6 -> 13.0 V at once, 3 days in",
         "CSide_V",
         {{0, 11.6}, {3 * d, 11.6}, {3 * d, 13.0}}},
        {"purifier",
         "purifier current 0.85 -> 1.35 A over four weeks for the same hydrogen pressure",
         "Pure_A",
         {{0, 0.85}, {28 * d, 1.35}}},
        {"quiet", "a healthy maser: noise and the daily swing of the room only", nullptr, {}},
    };
    return table;
}

const Scenario* scenario_named(std::string_view name) {
    for (const Scenario& scenario : scenarios()) {
        if (name == scenario.name) {
            return &scenario;
        }
    }
    return nullptr;
}

std::string scenario_names() {
    std::string names;
    for (const Scenario& scenario : scenarios()) {
        names += (names.empty() ? "" : ", ") + std::string(scenario.name);
    }
    return names;
}

namespace {

// The fraction `f` (0 to 1) of the way from one value to the next.
double between(const Scenario& scenario, double from, double to, double f) {
    if (scenario.shape == StoryShape::kGeometric) {
        return from * std::pow(to / from, f);
    }
    return from + (to - from) * f;
}

// How far (0 to 1) from `from` to `to` the value `value` lies, or a negative
// number when it lies outside.
double fraction_at(const Scenario& scenario, double from, double to, double value) {
    if ((value - from) * (value - to) > 0 || from == to) {
        return -1;
    }
    if (scenario.shape == StoryShape::kGeometric) {
        return std::log(value / from) / std::log(to / from);
    }
    return (value - from) / (to - from);
}

} // namespace

double story_value(const Scenario& scenario, double seconds) {
    const std::vector<StoryPoint>& course = scenario.course;
    if (seconds < course.front().at) {
        return course.front().value;
    }
    // The last point at or before `seconds`: at a step, the value after it.
    std::size_t i = 0;
    while (i + 1 < course.size() && course[i + 1].at <= seconds) {
        ++i;
    }
    if (i + 1 == course.size()) {
        return course[i].value;
    }
    const StoryPoint& from = course[i];
    const StoryPoint& to = course[i + 1];
    return between(scenario, from.value, to.value, (seconds - from.at) / (to.at - from.at));
}

double story_reaches(const Scenario& scenario, double value) {
    const std::vector<StoryPoint>& course = scenario.course;
    if (!course.empty() && course.front().value == value) {
        return course.front().at;
    }
    for (std::size_t i = 0; i + 1 < course.size(); ++i) {
        const StoryPoint& from = course[i];
        const StoryPoint& to = course[i + 1];
        const double f = fraction_at(scenario, from.value, to.value, value);
        if (f >= 0) {
            return from.at + f * (to.at - from.at);
        }
    }
    return -1;
}

std::vector<StoryStep> story_steps(const Scenario& scenario) {
    std::vector<StoryStep> steps;
    for (std::size_t i = 0; i + 1 < scenario.course.size(); ++i) {
        const StoryPoint& from = scenario.course[i];
        const StoryPoint& to = scenario.course[i + 1];
        if (from.at == to.at) {
            steps.push_back({from.at, from.value, to.value});
        }
    }
    return steps;
}

void tell_story(const Scenario& scenario, double seconds, std::uint8_t* frame) {
    if (scenario.channel != nullptr) {
        channel_put_value(frame, channel_named(scenario.channel), story_value(scenario, seconds));
    }
}
