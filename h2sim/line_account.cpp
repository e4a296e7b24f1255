#include "h2sim/line_account.h"

#include "telemetry/channels.h"

namespace {

bool on_time(const Exchange& exchange) {
    const SendRecord& sent = exchange.sent;
    if (sent.first_write < 0) {
        return true; // nothing answered: nothing can come late
    }
    return sent.first_write - exchange.poll_time <= kOnTimeLimit &&
           sent.longest_pause <= kPauseLimit;
}

} // namespace

bool LineAccount::settle(const Exchange& exchange) {
    const SendRecord& sent = exchange.sent;
    if (last_byte_ >= 0 && exchange.poll_time - last_byte_ >= kDiscardMargin) {
        unread_bound_ = 0; // discarded by the reader before it polled
    }
    const bool prompt = !exchange.line_busy_at_poll && on_time(exchange) && !sent.stopped;
    const bool clean = prompt && unread_bound_ == 0 && sent.stray_sent == 0 &&
                       sent.noise_sent == 0 && exchange.frame.size() == kFrameLength &&
                       sent.answer_sent == kFrameLength;

    const std::uint64_t offered = unread_bound_ + static_cast<std::uint64_t>(sent.answer_sent) +
                                  static_cast<std::uint64_t>(sent.stray_sent);
    if (prompt) {
        // The reader took a frame's worth, or everything when less came and
        // it drained the line after its short read.
        unread_bound_ = offered >= kFrameLength ? offered - kFrameLength : 0;
    } else {
        unread_bound_ = offered; // late or overlapping: assume nothing was taken
    }
    unread_bound_ += static_cast<std::uint64_t>(sent.noise_sent);
    if (sent.last_byte >= 0) {
        last_byte_ = sent.last_byte;
    }
    return clean;
}
