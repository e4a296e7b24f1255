#include "h2sim/exchange.h"

#include "h2sim/random.h"
#include "h2sim/request_parser.h"

#include <algorithm>
#include <numeric>

namespace {

enum Draw : std::uint64_t { kCorrupt = 0xC0, kStray, kNoise };

// Changes `count` distinct bytes of the frame, each to a different value.
void corrupt(Frame& frame, int count, Random& random) {
    std::vector<std::size_t> positions(frame.size());
    std::iota(positions.begin(), positions.end(), 0);
    const std::size_t changed = std::min(positions.size(), static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < changed; ++i) {
        std::swap(positions[i],
                  positions[static_cast<std::size_t>(random.range(
                      static_cast<long>(i), static_cast<long>(positions.size() - 1)))]);
        frame[positions[i]] ^= static_cast<std::uint8_t>(random.range(1, 255));
    }
}

std::vector<std::uint8_t> random_bytes(int count, Random random) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random.next());
    }
    return bytes;
}

// What a USB serial adapter such as an FTDI chip does to the bytes it
// receives: it holds them and hands them over to the computer in a packet once
// it holds kPacketBytes, or when its latency timer expires. The timer restarts
// at each handover; a byte that finds the adapter idle waits the whole latency
// (the adapter's timer may have just restarted).
void pass_through_adapter(std::vector<Step>& steps, Nanos latency) {
    constexpr std::size_t kPacketBytes = 62; // a 64-byte USB packet less its two status bytes
    std::size_t held_from = 0;               // the first byte not handed over yet
    Nanos expiry = 0;
    Nanos handed_over = -latency; // the last handover, long ago
    const auto hand_over = [&](std::size_t end, Nanos at) {
        for (std::size_t i = held_from; i < end; ++i) {
            steps[i].offset = at;
        }
        held_from = end;
        handed_over = at;
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Nanos arrival = steps[i].offset;
        if (held_from < i && arrival > expiry) {
            hand_over(i, expiry);
        }
        if (held_from == i) {
            expiry = arrival < handed_over + latency ? handed_over + latency : arrival + latency;
        }
        if (i + 1 - held_from == kPacketBytes) {
            hand_over(i + 1, arrival);
        }
    }
    hand_over(steps.size(), expiry);
}

} // namespace

Nanos byte_time(long baud) {
    return baud > 0 ? 10 * kNanosPerSecond / baud : 0;
}

Exchange build_exchange(std::uint64_t poll, Frame frame, const Faults& faults, std::uint64_t seed,
                        Nanos pace, Nanos poll_first, Nanos poll_time) {
    Exchange exchange;
    exchange.poll = poll;
    exchange.actions = faults.describe();
    exchange.poll_first = poll_first;
    exchange.poll_time = poll_time;
    exchange.start = std::max(poll_first + static_cast<Nanos>(kPollLength) * pace, poll_time) +
                     from_ms(faults.late_ms);

    Random corruption(hash_key(seed, kCorrupt, poll));
    corrupt(frame, faults.corrupt_bytes, corruption);
    exchange.frame = frame;

    std::size_t answer_length = faults.silent ? 0 : frame.size();
    if (faults.short_bytes >= 0) {
        answer_length = std::min(answer_length, static_cast<std::size_t>(faults.short_bytes));
    }
    Nanos offset = 0;
    for (std::size_t i = 0; i < answer_length; ++i) {
        const bool new_chunk = faults.chunk_bytes > 0 && i > 0 &&
                               i % static_cast<std::size_t>(faults.chunk_bytes) == 0;
        offset += pace + (new_chunk ? from_ms(faults.gap_ms) : 0);
        exchange.steps.push_back({offset, frame[i], ByteRole::Answer});
    }
    if (answer_length > 0) {
        for (std::uint8_t byte :
             random_bytes(faults.stray_bytes, Random(hash_key(seed, kStray, poll)))) {
            offset += pace;
            exchange.steps.push_back({offset, byte, ByteRole::Stray});
        }
    }
    offset += kNoiseDelay;
    for (std::uint8_t byte :
         random_bytes(faults.noise_bytes, Random(hash_key(seed, kNoise, poll)))) {
        offset += pace;
        exchange.steps.push_back({offset, byte, ByteRole::Noise});
    }
    if (faults.hold_back_ms > 0) {
        pass_through_adapter(exchange.steps, from_ms(faults.hold_back_ms));
    }
    return exchange;
}
