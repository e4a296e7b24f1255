// Health scenarios: stories of a maser over days or weeks, each told through
// one channel whose course is fixed (or through none: a quiet maser), so that
// whoever watches knows the exact value h2mon must decode at any moment of the
// story, when it reaches a level and when it steps.
#pragma once

#include "h2sim/frame_model.h"

#include <string>
#include <string_view>
#include <vector>

constexpr double kStoryDay = 86400.0;

// A point of a channel's course: its value at `at` seconds into the story.
// Before the first point and after the last the value stays put. Two points at
// one time make a step.
struct StoryPoint {
    double at;
    double value;
};

// How the value moves from one point to the next: in a straight line (a
// bottle emptying at a constant flow), or by a constant factor per second (an
// ion pump's current as a leak develops: a straight line on a log scale).
enum class StoryShape { kLinear, kGeometric };

struct Scenario {
    const char* name;
    const char* summary; // one line for --help
    const char* channel; // the channel the story plays on; null: no story, a quiet maser
    std::vector<StoryPoint> course;
    StoryShape shape = StoryShape::kLinear;
};

const std::vector<Scenario>& scenarios();

// The scenario of that name, or null.
const Scenario* scenario_named(std::string_view name);

// The scenarios' names, comma-separated, for messages.
std::string scenario_names();

// The story's value of its channel `seconds` into the story (the scenario has
// a channel).
double story_value(const Scenario& scenario, double seconds);

// When the story first reaches `value` (seconds into the story; at a step, the
// step's time), or a negative number when it never does.
double story_reaches(const Scenario& scenario, double value);

// A step of the story: at `at` seconds the value goes from `from` to `to`.
struct StoryStep {
    double at;
    double from;
    double to;
};

std::vector<StoryStep> story_steps(const Scenario& scenario);

// Writes the story's value at `seconds` into the frame's channel, over what
// the healthy model put there; a quiet scenario leaves the frame alone.
void tell_story(const Scenario& scenario, double seconds, std::uint8_t* frame);
