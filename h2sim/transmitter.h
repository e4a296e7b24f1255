// Sends the exchanges' bytes down the line, in order, each when it is due.
#pragma once

#include "h2sim/exchange.h"

#include <deque>
#include <vector>

// Exchanges go out one after the other (a later answer waits until the
// earlier one is out). At each call every byte that is due goes out in one
// write, so an unpaced answer is a single write and a paced line catches up
// after a late wake-up instead of drifting: the due times are absolute.
class Transmitter {
public:
    explicit Transmitter(int fd) : fd_(fd) {}

    void enqueue(Exchange exchange);

    // Bytes are waiting to go out.
    bool busy() const { return !queue_.empty(); }

    // When the next byte is due; -1 when nothing is waiting or when the line
    // cannot take more until it signals that it is writable.
    Nanos next_due() const;

    // A write was cut short: wait for the line to become writable.
    bool blocked() const { return blocked_; }
    void unblock() { blocked_ = false; }

    // Writes what is due at `now`. False on a write error (errno tells).
    bool send_due(Nanos now);

    // Exchanges all of whose bytes have gone out, in poll order.
    std::vector<Exchange> take_finished();

    // Gives up what has not gone out yet; those exchanges are finished as
    // stopped.
    void stop();

private:
    // Fixes the head exchange's start once the exchanges before it are out.
    void begin_head();
    void record(Exchange& exchange, std::size_t count, Nanos now);

    int fd_;
    std::deque<Exchange> queue_;
    std::vector<Exchange> finished_;
    bool head_begun_ = false;
    bool blocked_ = false;
    Nanos line_free_at_ = 0; // due time of the last byte sent
};
