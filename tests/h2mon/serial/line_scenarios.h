// Byte traffic that behaves the same on any serial line: the rules that end a
// timed read or a drain, the conveniences built on them, and writes. The
// scenarios are one table; each back end plays them on its own line, the
// simulated line on an exact clock, a pseudo-terminal in real time with room
// for a loaded machine.
#pragma once

#include "h2mon/serial/comport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Bytes the far end sends `at_ms` after the operation starts.
struct Arrival {
    int at_ms;
    std::string bytes;
};

// A serial line with an open port (9600 baud, 8 data bits) at its near end.
class ScenarioLine {
public:
    virtual ~ScenarioLine() = default;

    virtual COMPORT& port() = 0;
    // Starts the far end sending `arrivals`, timed from now, and restarts the
    // clock that elapsed_ms reads.
    virtual void play(const std::vector<Arrival>& arrivals) = 0;
    virtual int elapsed_ms() = 0;
    // What the port's writes brought to the far end, waiting a while for `count`
    // bytes.
    virtual std::string received(std::size_t count) = 0;
    // True on a simulated clock: an operation that ends on a byte ends exactly
    // when it arrives, one that ends on a time-out within one empty fetch (10 ms)
    // after it, and a stream cut off by a time has a known length.
    virtual bool exact() const = 0;
};

// Made by the back end this test executable links; `variant` is one of the
// values it instantiates the scenarios with.
std::unique_ptr<ScenarioLine> make_scenario_line(std::uint32_t variant);

// The scenarios (line_scenarios_test.cpp), instantiated by each back end with
// its variants.
class LineScenarios : public ::testing::TestWithParam<std::uint32_t> {};
