// One poll and what the simulated maser sends for it: the answer, with its
// faults, as bytes with their send times.
#pragma once

#include "h2sim/clock.h"
#include "h2sim/fault_plan.h"
#include "h2sim/frame_model.h"

#include <cstdint>
#include <string>
#include <vector>

// How long after its answer (or after its poll, when there is no answer)
// noise goes out: detached from the answer (later than the program waits for
// the line to go quiet after a frame: 50 ms on a device that does not say how
// long it holds bytes back), so that it lies in the line until the program
// reads for its next poll.
constexpr Nanos kNoiseDelay = 100 * kNanosPerMs;

enum class ByteRole : std::uint8_t { Answer, Stray, Noise };

// A byte and when it is due, counted from the start of the exchange's sending.
struct Step {
    Nanos offset;
    std::uint8_t byte;
    ByteRole role;
};

// What actually happened on the line, gathered while sending.
struct SendRecord {
    int answer_sent = 0;
    int stray_sent = 0;
    int noise_sent = 0;
    Nanos first_write = -1;  // when the first answer or stray byte went out
    Nanos last_write = -1;   // when the latest answer or stray byte went out
    Nanos last_byte = -1;    // when the latest byte of any kind went out
    Nanos longest_pause = 0; // between writes of answer and stray bytes
    bool stopped = false;    // the simulator stopped before all was sent
};

struct Exchange {
    std::uint64_t poll = 0;
    std::string actions;            // Faults::describe() of the faults applied
    Frame frame;                    // the frame meant for this poll, as corrupted if so
    Nanos poll_first = 0;           // when the poll's first byte arrived
    Nanos poll_time = 0;            // when the poll was complete
    Nanos start = 0;                // sending starts no earlier than this
    bool line_busy_at_poll = false; // earlier bytes were still waiting to go out
    std::vector<Step> steps;
    std::size_t next_step = 0;
    SendRecord sent;
};

// Line pacing: the time one byte takes at `baud` (10 bits a byte); 0 when the
// line is not paced.
Nanos byte_time(long baud);

// Builds the exchange for a poll whose first byte arrived at `poll_first` and
// whose last byte completed it at `poll_time`. The answer starts when the poll
// would have finished arriving on a paced line, plus any delay; each byte is
// due one byte time after the one before (all at once on an unpaced line),
// plus the pauses between chunks. Random choices (which bytes are corrupted,
// stray and noise values) are keyed by the seed and the poll number.
Exchange build_exchange(std::uint64_t poll, Frame frame, const Faults& faults, std::uint64_t seed,
                        Nanos pace, Nanos poll_first, Nanos poll_time);
