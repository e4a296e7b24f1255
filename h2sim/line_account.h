// Judges, exchange by exchange, whether the program surely received an answer
// whole and in step: the "clean" mark of the exchange log.
#pragma once

#include "h2sim/exchange.h"

#include <cstdint>

// Limits within which an answer counts as on time: the program waits up to
// 1000 ms for the first byte and 100 ms between bytes; these are half that,
// a margin for a loaded machine.
constexpr Nanos kOnTimeLimit = 500 * kNanosPerMs;
constexpr Nanos kPauseLimit = 50 * kNanosPerMs;
// The program discards what waits in the line just before it polls. A byte
// that went out at least this long before the poll arrived came before that
// discard; a later one may have come after it (a margin for a loaded machine).
constexpr Nanos kDiscardMargin = 50 * kNanosPerMs;

// Keeps an upper bound on the bytes sent that the reader may not have taken
// yet, assuming a reader that reads each answer right after its poll, takes a
// frame's worth of bytes (or, when fewer come, all of them and whatever
// follows within its drain), and discards whatever waits in the line just
// before each poll. Bytes left over and not discarded would be read as the
// start of the next frame, so an exchange is clean only when that bound is
// zero at its poll.
//
// An exchange is clean when: nothing was still waiting to go out when its poll
// came, no earlier byte can still be unread (none left over, or the last one
// went out at least kDiscardMargin before the poll), the answer was the whole
// frame of kFrameLength bytes, its first byte went out within kOnTimeLimit of
// the poll with no pause over kPauseLimit, no stray byte or noise followed it,
// and the simulator did not stop before it was over.
class LineAccount {
public:
    bool settle(const Exchange& exchange);

    std::uint64_t unread_bound() const { return unread_bound_; }

private:
    std::uint64_t unread_bound_ = 0;
    Nanos last_byte_ = -1; // when the latest byte of a settled exchange went out
};
