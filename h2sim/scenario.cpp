#include "h2sim/scenario.h"

const std::vector<Scenario>& scenarios() {
    constexpr double d = kStoryDay;
    static const std::vector<Scenario> table = {
        {"vacuum-leak",
         "ion pump current 30 -> 150 uA over three weeks, ever faster",
         "Ion_uA",
         {{0, 30.0}, {7 * d, 40.0}, {14 * d, 70.0}, {21 * d, 150.0}}},
        {"hydrogen-empty",
         "hydrogen source pressure 0.30 -> 0.05 atm over four weeks",
         "H2_atm",
         {{0, 0.30}, {14 * d, 0.26}, {21 * d, 0.18}, {28 * d, 0.05}}},
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
    return from.value + (to.value - from.value) * (seconds - from.at) / (to.at - from.at);
}

void tell_story(const Scenario& scenario, double seconds, std::uint8_t* frame) {
    channel_put_value(frame, channel_named(scenario.channel), story_value(scenario, seconds));
}
