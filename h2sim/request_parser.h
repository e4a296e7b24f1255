// Splits what arrives from the program into polls and everything else.
#pragma once

#include "h2sim/clock.h"
#include "telemetry/channels.h"

#include <cstdint>
#include <vector>

// How long the start of a poll may wait for its remaining bytes before it is
// given up as garbage.
constexpr Nanos kUnfinishedPollTimeout = 500 * kNanosPerMs;

struct RequestEvent {
    enum Kind { Poll, Garbage } kind;
    Nanos first_byte;                // when the event's first byte arrived
    std::vector<std::uint8_t> bytes; // for garbage: the bytes that are not a poll
};

// Finds the polls in the byte stream and stays in step with them after
// garbage: a byte that cannot continue a poll is garbage, and the search goes
// on from the next byte, so a poll that follows garbage, or a cut-off poll, is
// still recognised. A run of garbage is reported once, before the poll that
// ends it or at the end of the bytes fed.
class RequestParser {
public:
    void feed(const std::uint8_t* data, std::size_t count, Nanos when,
              std::vector<RequestEvent>& events);

    // Gives up a started poll whose remaining bytes have not come in time.
    void expire(Nanos now, std::vector<RequestEvent>& events);

    // When `expire` will have something to do; -1 when nothing is waiting.
    Nanos deadline() const;

private:
    void take(std::uint8_t byte, Nanos when, std::vector<RequestEvent>& events);
    bool prefix_matches() const;
    void report_garbage(std::vector<RequestEvent>& events);

    std::vector<std::uint8_t> prefix_; // a possible start of a poll
    std::vector<Nanos> prefix_times_;
    std::vector<std::uint8_t> garbage_;
    Nanos garbage_start_ = 0;
};
