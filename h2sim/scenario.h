// Health scenarios: stories of a maser going wrong over days or weeks, each
// told through one channel whose course is fixed, so that whoever watches
// knows the exact value h2mon must decode at any moment of the story.
#pragma once

#include "h2sim/frame_model.h"

#include <string>
#include <string_view>
#include <vector>

constexpr double kStoryDay = 86400.0;

// A point of a channel's course: its value at `at` seconds into the story.
// Between points the value moves in a straight line; before the first and
// after the last it stays put. Two points at one time make a step.
struct StoryPoint {
    double at;
    double value;
};

struct Scenario {
    const char* name;
    const char* summary; // one line for --help
    const char* channel; // the channel the story plays on
    std::vector<StoryPoint> course;
};

const std::vector<Scenario>& scenarios();

// The scenario of that name, or null.
const Scenario* scenario_named(std::string_view name);

// The scenarios' names, comma-separated, for messages.
std::string scenario_names();

// The story's value of its channel `seconds` into the story.
double story_value(const Scenario& scenario, double seconds);

// Writes the story's value at `seconds` into the frame's channel, over what
// the healthy model put there.
void tell_story(const Scenario& scenario, double seconds, std::uint8_t* frame);
