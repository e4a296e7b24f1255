// The simulator's parts on their own: the frame model, the request
// parser, the timing of an answer, the fault plan, the clean judgement.
#include "tests/h2sim/plausible.h"
#include "h2sim/exchange.h"
#include "h2sim/fault_plan.h"
#include "h2sim/frame_file.h"
#include "h2sim/frame_model.h"
#include "h2sim/line_account.h"
#include "h2sim/request_parser.h"
#include "h2sim/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

TEST(FrameModel, StaysPlausibleAndVariesSlowlyOverManyPolls) {
    const FrameModel model(42);
    Frame previous = model.frame(1);
    int changed_readings = 0;
    for (std::uint64_t poll = 2; poll <= 3000; ++poll) {
        const Frame frame = model.frame(poll);
        ASSERT_EQ(frame.size(), static_cast<std::size_t>(kFrameLength));
        for (const PlausibleRange& range : kPlausible) {
            const CHANNEL& channel = channel_named(range.name);
            const double value = channel_value(frame.data(), channel);
            ASSERT_GE(value, range.low) << range.name << " at poll " << poll;
            ASSERT_LE(value, range.high) << range.name << " at poll " << poll;
            const double step = std::fabs(value - channel_value(previous.data(), channel));
            // Slow drift, plus a flicker of a count or two in the last digit.
            ASSERT_LE(step, std::max(0.05 * (range.high - range.low), 2.5 * channel.scale))
                << range.name << " at poll " << poll;
            changed_readings += step > 0;
        }
        previous = frame;
    }
    EXPECT_GT(changed_readings, 3000); // not frozen
}

TEST(FrameModel, IsAFunctionOfSeedAndPoll) {
    EXPECT_EQ(FrameModel(3).frame(10), FrameModel(3).frame(10));
    EXPECT_NE(FrameModel(3).frame(10), FrameModel(4).frame(10));
    EXPECT_NE(FrameModel(3).frame(10), FrameModel(3).frame(11));
}

TEST(Scenario, FramesDecodeToTheStorysValueAndLeaveTheOtherChannelsHealthy) {
    constexpr double d = kStoryDay;
    struct Case {
        const char* scenario;
        double seconds;
        double decoded;
    };
    const Case cases[] = {
        {"vacuum-leak", 0, 30.0},       {"vacuum-leak", 10.5 * d, 30.0 * std::sqrt(5.0)},
        {"vacuum-leak", 60 * d, 150.0}, // held at the end
        {"hydrogen-empty", 0, 0.30},    {"hydrogen-empty", 14 * d, 0.175},
        {"rail-sag", 1 * d, 14.985},    {"rail-sag", 4.5 * d, 14.475},
        {"signal-drop", 0.5 * d, 1.02}, {"signal-drop", 2 * d, 0.81},
        {"oven-step", 3 * d - 1, 11.6}, {"oven-step", 3 * d, 13.0}, // the step
        {"purifier", 7 * d, 0.975},
    };
    const FrameModel model(5);
    for (const Case& c : cases) {
        const Scenario* scenario = scenario_named(c.scenario);
        ASSERT_NE(scenario, nullptr) << c.scenario;
        const Frame healthy = model.frame(77);
        Frame frame = healthy;
        tell_story(*scenario, c.seconds, frame.data());
        const CHANNEL& channel = channel_named(scenario->channel);
        EXPECT_NEAR(channel_value(frame.data(), channel), c.decoded, channel.scale / 2 + 1e-9)
            << c.scenario << " at " << c.seconds / d << " days";
        for (int i = 0; i < kFrameLength; ++i) {
            if (i != channel.first - 2 && i != channel.last - 2) {
                ASSERT_EQ(frame[i], healthy[i]) << c.scenario << ": byte " << i;
            }
        }
    }
    Frame quiet = model.frame(77);
    tell_story(*scenario_named("quiet"), 3 * d, quiet.data());
    EXPECT_EQ(quiet, model.frame(77));
    EXPECT_EQ(scenario_named("vacuum"), nullptr);
}

TEST(Scenario, EveryStoryPlaysOnAMeasurementWithinItsRangeInTimeOrder) {
    for (const Scenario& scenario : scenarios()) {
        if (scenario.channel == nullptr) {
            EXPECT_TRUE(scenario.course.empty()) << scenario.name;
            continue;
        }
        const CHANNEL& channel = channel_named(scenario.channel);
        ASSERT_NE(channel.scale, 0) << scenario.name;
        ASSERT_FALSE(scenario.course.empty()) << scenario.name;
        double previous = 0;
        for (const StoryPoint& point : scenario.course) {
            EXPECT_GE(point.at, previous) << scenario.name;
            previous = point.at;
            // Representable in the channel's 16 bits.
            EXPECT_LE(std::fabs(point.value - channel.offset), 32767 * channel.scale)
                << scenario.name;
        }
    }
}

// What a test asks a story for instead of copying its numbers: when it
// reaches a level, and its steps.
TEST(Scenario, TellsWhenItsStoryReachesALevelAndWhereItSteps) {
    constexpr double d = kStoryDay;
    const struct {
        const char* scenario;
        double value;
        double at; // negative: never
    } cases[] = {
        {"vacuum-leak", 60.0, 21 * d * std::log(2.0) / std::log(5.0)}, // doubled
        {"vacuum-leak", 150.0, 21 * d},
        {"vacuum-leak", 151.0, -1},
        {"hydrogen-empty", 0.15, 16.8 * d},
        {"rail-sag", 14.95, 2 * d},
        {"oven-step", 12.0, 3 * d}, // within the step: its time
        {"signal-drop", 1.02, 0},
        {"signal-drop", 1.5, -1},
    };
    for (const auto& c : cases) {
        const Scenario& scenario = *scenario_named(c.scenario);
        const double at = story_reaches(scenario, c.value);
        if (c.at < 0) {
            EXPECT_LT(at, 0) << c.scenario << " " << c.value;
            continue;
        }
        EXPECT_NEAR(at, c.at, 1e-6 * d) << c.scenario << " " << c.value;
        // The story's value there is the value asked for (or a step through it).
        if (story_steps(scenario).empty()) {
            EXPECT_NEAR(story_value(scenario, at), c.value, 1e-9) << c.scenario;
        }
    }
    const std::vector<StoryStep> steps = story_steps(*scenario_named("oven-step"));
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].at, 3 * d);
    EXPECT_EQ(steps[0].from, 11.6);
    EXPECT_EQ(steps[0].to, 13.0);
    EXPECT_TRUE(story_steps(*scenario_named("hydrogen-empty")).empty());
}

TEST(FrameFile, LinesParseToBytes) {
    struct Case {
        const char* line;
        bool ok;
        Frame bytes;
    };
    const Case cases[] = {
        {"0A1b ff # comment 12", true, {0x0A, 0x1B, 0xFF}},
        {"   # only a comment", true, {}},
        {"", true, {}},
        {"0A1", false, {}},
        {"0G", false, {}},
    };
    for (const Case& c : cases) {
        Frame frame;
        std::string error;
        EXPECT_EQ(parse_frame_line(c.line, frame, error), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(frame, c.bytes) << c.line;
        } else {
            EXPECT_FALSE(error.empty()) << c.line;
        }
    }
}

// Feeds chunks and returns the events as text: P for a poll, G<hex> for garbage.
std::string parse(const std::vector<Frame>& chunks) {
    RequestParser parser;
    std::vector<RequestEvent> events;
    for (const Frame& chunk : chunks) {
        parser.feed(chunk.data(), chunk.size(), 0, events);
    }
    std::string text;
    for (const RequestEvent& event : events) {
        if (event.kind == RequestEvent::Poll) {
            text += "P ";
            continue;
        }
        text += "G";
        for (std::uint8_t byte : event.bytes) {
            text += std::to_string(byte) + ".";
        }
        text += " ";
    }
    return text;
}

TEST(RequestParser, FindsPollsAmongGarbageAndAcrossChunks) {
    const Frame poll(kPoll, kPoll + kPollLength);
    EXPECT_EQ(parse({poll, poll}), "P P ");
    EXPECT_EQ(parse({{1, 0x41}, {0, 0}, {0}}), "P ");
    EXPECT_EQ(parse({{9, 9, 1, 0x41, 0, 0, 0}}), "G9.9. P ");
    // A cut-off poll followed by a whole one: the search restarts inside.
    EXPECT_EQ(parse({{1, 0x41, 0, 1, 0x41, 0, 0, 0}}), "G1.65.0. P ");
    EXPECT_EQ(parse({{1, 1, 0x41, 0, 0, 0}}), "G1. P ");
    // Garbage is reported at the end of each chunk; a possible poll start waits.
    EXPECT_EQ(parse({{7, 1, 0x41}, {5}}), "G7. G1.65.5. ");
}

TEST(RequestParser, GivesUpAPollLeftUnfinished) {
    RequestParser parser;
    std::vector<RequestEvent> events;
    const std::uint8_t start[] = {1, 0x41};
    parser.feed(start, 2, 1000, events);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(parser.deadline(), 1000 + kUnfinishedPollTimeout);
    parser.expire(1000 + kUnfinishedPollTimeout - 1, events);
    EXPECT_TRUE(events.empty());
    parser.expire(1000 + kUnfinishedPollTimeout, events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, Frame(start, start + 2));
    EXPECT_EQ(parser.deadline(), -1);
}

TEST(Exchange, PacedAnswerStartsAfterThePollAndKeepsOneByteTimeApart) {
    const Nanos t = byte_time(9600);
    EXPECT_EQ(t, 1041666);
    Faults faults;
    faults.stray_bytes = 2;
    faults.noise_bytes = 1;
    const Exchange paced = build_exchange(1, Frame(kFrameLength, 0x55), faults, 1, t, 1000, 2000);
    EXPECT_EQ(paced.start, 1000 + 5 * t); // when the five poll bytes would have arrived
    ASSERT_EQ(paced.steps.size(), static_cast<std::size_t>(kFrameLength + 3));
    for (std::size_t i = 0; i < kFrameLength + 2; ++i) {
        EXPECT_EQ(paced.steps[i].offset, static_cast<Nanos>(i + 1) * t) << i;
    }
    EXPECT_EQ(paced.steps[kFrameLength + 1].role, ByteRole::Stray);
    EXPECT_EQ(paced.steps.back().role, ByteRole::Noise);
    EXPECT_EQ(paced.steps.back().offset, (kFrameLength + 3) * t + kNoiseDelay);
}

TEST(Exchange, UnpacedAnswerGoesOutAtOnceOrInTimedChunks) {
    Faults faults;
    const Exchange whole = build_exchange(1, Frame(kFrameLength), faults, 1, 0, 1000, 2000);
    EXPECT_EQ(whole.start, 2000);
    for (const Step& step : whole.steps) {
        EXPECT_EQ(step.offset, 0);
    }
    faults.chunk_bytes = 100;
    faults.gap_ms = 30;
    faults.late_ms = 7;
    faults.short_bytes = 150;
    const Exchange chunked = build_exchange(1, Frame(kFrameLength), faults, 1, 0, 1000, 2000);
    EXPECT_EQ(chunked.start, 2000 + from_ms(7));
    ASSERT_EQ(chunked.steps.size(), 150u);
    EXPECT_EQ(chunked.steps[99].offset, 0);
    EXPECT_EQ(chunked.steps[100].offset, from_ms(30));
    EXPECT_EQ(chunked.steps[149].offset, from_ms(30));
}

// Through an adapter with a 16 ms latency timer: 62 bytes go over as soon as
// they are held, the rest when the timer expires, which restarts at each
// handover; the bytes stay in order.
TEST(Exchange, AnAdapterHandsBytesOverInPacketsOrWhenItsTimerExpires) {
    const Nanos latency = from_ms(16);
    Faults faults;
    faults.hold_back_ms = 16;
    faults.stray_bytes = 2;
    const Exchange unpaced = build_exchange(1, Frame(kFrameLength), faults, 1, 0, 0, 0);
    ASSERT_EQ(unpaced.steps.size(), kFrameLength + 2u);
    for (std::size_t i = 0; i < unpaced.steps.size(); ++i) {
        // Three full packets at once; the last three bytes and the strays later.
        EXPECT_EQ(unpaced.steps[i].offset, i < 186 ? 0 : latency) << i;
    }

    const Nanos t = byte_time(9600);
    faults.stray_bytes = 0;
    faults.noise_bytes = 1;
    const Exchange paced = build_exchange(1, Frame(kFrameLength), faults, 1, t, 0, 0);
    ASSERT_EQ(paced.steps.size(), kFrameLength + 1u);
    Nanos previous = 0;
    for (std::size_t i = 0; i < kFrameLength; ++i) {
        const Nanos arrival = static_cast<Nanos>(i + 1) * t;
        const Nanos offset = paced.steps[i].offset;
        EXPECT_GE(offset, previous) << i;
        // Handed over at the first expiry after its arrival: every 16 ms from
        // the first byte's.
        const Nanos periods = std::max<Nanos>(1, (arrival - t + latency - 1) / latency);
        EXPECT_EQ(offset, t + periods * latency) << i;
        previous = offset;
    }
    // Noise, long after, finds the adapter idle: it waits the whole latency.
    EXPECT_EQ(paced.steps.back().offset, (kFrameLength + 1) * t + kNoiseDelay + latency);
}

TEST(Exchange, CorruptionChangesExactlyTheAskedNumberOfBytesAndIsLogged) {
    Faults faults;
    faults.corrupt_bytes = 3;
    const Frame frame(kFrameLength, 0x11);
    const Exchange exchange = build_exchange(4, frame, faults, 9, 0, 0, 0);
    int changed = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        changed += exchange.frame[i] != frame[i];
        EXPECT_EQ(exchange.steps[i].byte, exchange.frame[i]); // what is logged is what is sent
    }
    EXPECT_EQ(changed, 3);
    EXPECT_EQ(build_exchange(4, frame, faults, 9, 0, 0, 0).frame, exchange.frame);
}

TEST(FaultRules, ParseValuesAndHowOften) {
    struct Case {
        FaultKind kind;
        const char* text;
        bool ok;
        long value;
        long value2;
        std::uint64_t every;
    };
    const Case cases[] = {
        {FaultKind::Short, "100", true, 100, 0, 1},
        {FaultKind::Short, "0@3", true, 0, 0, 3},
        {FaultKind::Short, "189", false, 0, 0, 0},
        {FaultKind::Late, "1500@2", true, 1500, 0, 2},
        {FaultKind::Late, "-5", false, 0, 0, 0},
        {FaultKind::Late, "5@", false, 0, 0, 0},
        {FaultKind::Late, "5@0", false, 0, 0, 0},
        {FaultKind::Gaps, "16:120@4", true, 16, 120, 4},
        {FaultKind::Gaps, "0:120", false, 0, 0, 0},
        {FaultKind::Gaps, "16", false, 0, 0, 0},
        {FaultKind::Silent, "", true, 0, 0, 1},
        {FaultKind::Silent, "5", true, 0, 0, 5},
        {FaultKind::Silent, "x", false, 0, 0, 0},
        {FaultKind::Silent, "@4", true, 0, 0, 4},
        {FaultKind::Stray, "3", true, 3, 0, 1},
        {FaultKind::Noise, "0", false, 0, 0, 0},
        {FaultKind::Corrupt, "2x", false, 0, 0, 0},
        {FaultKind::HoldBack, "16", true, 16, 0, 1},
        {FaultKind::HoldBack, "1001", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        FaultRule rule{c.kind};
        std::string error;
        ASSERT_EQ(parse_fault_rule(c.kind, c.text, rule, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(rule.value, c.value) << c.text;
            EXPECT_EQ(rule.value2, c.value2) << c.text;
            EXPECT_EQ(rule.every, c.every) << c.text;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(FaultPlan, RulesApplyOnTheirPollsAndDescribeThemselves) {
    FaultPlan plan;
    plan.add({FaultKind::Late, 300, 0, 2});
    plan.add({FaultKind::Stray, 2, 0, 3});
    EXPECT_EQ(plan.faults_for(1).describe(), "full");
    EXPECT_EQ(plan.faults_for(2).describe(), "late:300");
    EXPECT_EQ(plan.faults_for(3).describe(), "stray:2");
    EXPECT_EQ(plan.faults_for(6).describe(), "late:300+stray:2");
    plan.add({FaultKind::Silent, 0, 0, 6});
    EXPECT_EQ(plan.faults_for(6).describe(), "silent"); // nothing goes out to be late or followed
}

TEST(FaultPlan, ChaosIsRandomButRepeatableForASeed) {
    FaultPlan some(5), same(5), other(6);
    some.set_chaos(0.3);
    same.set_chaos(0.3);
    other.set_chaos(0.3);
    int faulty = 0;
    bool differs = false;
    std::set<std::string> kinds;
    for (std::uint64_t poll = 1; poll <= 1000; ++poll) {
        const std::string faults = some.faults_for(poll).describe();
        EXPECT_EQ(faults, same.faults_for(poll).describe());
        differs |= faults != other.faults_for(poll).describe();
        if (faults != "full") {
            ++faulty;
            kinds.insert(faults.substr(0, faults.find(':')));
        }
    }
    EXPECT_TRUE(differs);
    EXPECT_GT(faulty, 220);
    EXPECT_LT(faulty, 380);
    EXPECT_EQ(kinds.size(), 7u);
}

// An exchange as the line account sees it, polled at time 0; an unpaced answer
// and its stray bytes go out at once, noise kNoiseDelay later.
Exchange sent(int answer, int stray = 0, int noise = 0, Nanos first_after = 0, bool busy = false,
              Nanos pause = 0) {
    Exchange exchange;
    exchange.frame = Frame(kFrameLength);
    exchange.poll_time = 0;
    exchange.line_busy_at_poll = busy;
    exchange.sent.answer_sent = answer;
    exchange.sent.stray_sent = stray;
    exchange.sent.noise_sent = noise;
    exchange.sent.first_write = answer + stray > 0 ? first_after : -1;
    exchange.sent.longest_pause = pause;
    if (noise > 0) {
        exchange.sent.last_byte = std::max<Nanos>(exchange.sent.first_write, 0) + kNoiseDelay;
    } else {
        exchange.sent.last_byte = exchange.sent.first_write;
    }
    return exchange;
}

// The exchange moved to a poll at `poll`.
Exchange polled_at(Exchange exchange, Nanos poll) {
    exchange.poll_time += poll;
    for (Nanos* time : {&exchange.sent.first_write, &exchange.sent.last_byte}) {
        *time += *time >= 0 ? poll : 0;
    }
    return exchange;
}

TEST(LineAccount, CleanOnlyWhenTheReaderIsSurelyInStep) {
    // Polls that follow each other at once leave the reader's discard before
    // each poll no time; polls well apart let it take what came before.
    constexpr Nanos at_once = 10 * kNanosPerMs;
    constexpr Nanos apart = kNanosPerSecond;
    struct Case {
        const char* what;
        std::vector<Exchange> before;
        Exchange exchange;
        bool clean;
        Nanos spacing = at_once;
    };
    const Nanos late = kOnTimeLimit + 1;
    const Case cases[] = {
        {"first whole answer", {}, sent(189), true},
        {"after whole answers", {sent(189), sent(189)}, sent(189), true},
        {"short answer", {}, sent(100), false},
        {"after a short answer, drained", {sent(100)}, sent(189), true},
        {"after silence", {sent(0)}, sent(189), true},
        {"with stray bytes", {}, sent(189, 2), false},
        {"after stray bytes", {sent(189, 2)}, sent(189), false},
        {"after stray bytes, discarded before the poll", {sent(189, 2)}, sent(189), true, apart},
        {"stray bytes then silence", {sent(189, 2), sent(0)}, sent(189), true},
        {"after noise", {sent(189, 0, 3)}, sent(189), false},
        {"after noise, discarded before the poll", {sent(189, 0, 3)}, sent(189), true, apart},
        {"noise then a short answer", {sent(189, 0, 3), sent(100)}, sent(189), true},
        {"stray bytes and a short answer too long to drain",
         {sent(189, 100), sent(100)},
         sent(189),
         false},
        {"late answer", {}, sent(189, 0, 0, late), false},
        {"after a late answer", {sent(189, 0, 0, late)}, sent(189), false},
        {"after a late answer, discarded before the poll",
         {sent(189, 0, 0, late)},
         sent(189),
         true,
         apart},
        {"long pause", {}, sent(189, 0, 0, 0, false, kPauseLimit + 1), false},
        {"line busy at the poll", {}, sent(189, 0, 0, 0, true), false},
    };
    for (const Case& c : cases) {
        LineAccount account;
        Nanos poll = 0;
        for (const Exchange& earlier : c.before) {
            account.settle(polled_at(earlier, poll));
            poll += c.spacing;
        }
        EXPECT_EQ(account.settle(polled_at(c.exchange, poll)), c.clean) << c.what;
    }
}

} // namespace
