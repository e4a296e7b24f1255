#include "h2sim/simulator.h"

#include "program/exit_code.h"
#include "telemetry/hex.h"
#include "telemetry/mjd_time.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <poll.h>
#include <unistd.h>

namespace {

// After the last answer of --close-after, the line stays open until the
// reader has taken that answer (a hang-up discards unread bytes): at least the
// grace time, which lets the written bytes reach the slave's input queue, then
// until that queue is empty, checked at intervals, but no longer than the
// limit.
constexpr Nanos kClosingGrace = 100 * kNanosPerMs;
constexpr Nanos kClosingCheck = 10 * kNanosPerMs;
constexpr Nanos kClosingLimit = 2 * kNanosPerSecond;

// Reads per wake-up, so that a flood of input cannot hold off the answers.
constexpr int kReadsPerWake = 16;

// Garbage runs longer than this are shown cut.
constexpr std::size_t kShownGarbage = 64;

void report_garbage(const std::vector<std::uint8_t>& bytes) {
    std::fprintf(stderr, "h2sim: not a poll, ignored:");
    std::string shown;
    for (std::size_t i = 0; i < bytes.size() && i < kShownGarbage; ++i) {
        shown += ' ';
        append_hex(shown, &bytes[i], 1);
    }
    std::fputs(shown.c_str(), stderr);
    if (bytes.size() > kShownGarbage) {
        std::fprintf(stderr, " ... (%zu bytes)", bytes.size());
    }
    std::fprintf(stderr, "\n");
}

Nanos earliest(Nanos a, Nanos b) {
    if (a < 0) {
        return b;
    }
    return b < 0 ? a : std::min(a, b);
}

} // namespace

Simulator::Simulator(const Options& options, std::vector<Frame> file_frames, SimulatorLine& line,
                     ExchangeLog& log)
    : options_(options), file_frames_(std::move(file_frames)), model_(options.seed),
      faults_(options.seed), line_(line), log_(log), transmitter_(line.master()),
      pace_(byte_time(options.baud)), story_start_(monotonic_now()),
      story_start_mjd_(mjd_of_unix_seconds(static_cast<double>(std::time(nullptr)))) {
    for (const FaultRule& rule : options.faults) {
        faults_.add(rule);
    }
    faults_.set_chaos(options.chaos);
}

Frame Simulator::frame_for(std::uint64_t poll, Nanos now) const {
    if (file_frames_.empty() && options_.scenario == nullptr) {
        return model_.frame(poll);
    }
    if (file_frames_.empty()) {
        // A story plays on the maser of simulated days: its daily swing
        // follows the story's clock, which starts at the wall clock's time.
        const double story =
            static_cast<double>(now - story_start_) / kNanosPerSecond * options_.time_scale;
        Frame frame = model_.frame_at(story_start_mjd_ + story / kSecondsPerDay, poll);
        tell_story(*options_.scenario, story, frame.data());
        return frame;
    }
    return file_frames_[(poll - 1) % file_frames_.size()];
}

bool Simulator::read_requests(Nanos now) {
    std::uint8_t buffer[4096];
    std::vector<RequestEvent> events;
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        const ssize_t count = ::read(line_.master(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                break;
            }
            std::fprintf(stderr, "h2sim: reading the line: %s\n", std::strerror(errno));
            return false;
        }
        parser_.feed(buffer, static_cast<std::size_t>(count), now, events);
        if (count == 0) {
            break;
        }
    }
    for (const RequestEvent& event : events) {
        handle(event, now);
    }
    return true;
}

void Simulator::handle(const RequestEvent& event, Nanos now) {
    if (event.kind == RequestEvent::Garbage) {
        report_garbage(event.bytes);
        return;
    }
    if (options_.close_after > 0 && polls_ >= options_.close_after) {
        return; // the line is about to close: later polls get no answer
    }
    answer(event, now);
}

void Simulator::answer(const RequestEvent& poll, Nanos now) {
    ++polls_;
    Exchange exchange = build_exchange(polls_, frame_for(polls_, now), faults_.faults_for(polls_),
                                       options_.seed, pace_, poll.first_byte, now);
    exchange.line_busy_at_poll = transmitter_.busy();
    transmitter_.enqueue(std::move(exchange));
}

bool Simulator::send_due(Nanos now) {
    if (transmitter_.send_due(now)) {
        return true;
    }
    std::fprintf(stderr, "h2sim: writing to the line: %s\n", std::strerror(errno));
    return false;
}

void Simulator::settle_finished() {
    for (const Exchange& exchange : transmitter_.take_finished()) {
        log_.write(exchange, account_.settle(exchange));
    }
}

// True once the line may be closed after the last poll of --close-after.
bool Simulator::closing_done(Nanos now) {
    if (options_.close_after == 0 || polls_ < options_.close_after || transmitter_.busy()) {
        return false;
    }
    if (closing_since_ < 0) {
        closing_since_ = now;
    }
    const Nanos waited = now - closing_since_;
    return (waited >= kClosingGrace && line_.unread_by_slave() == 0) || waited >= kClosingLimit;
}

Nanos Simulator::next_deadline() const {
    Nanos deadline = earliest(transmitter_.next_due(), parser_.deadline());
    if (closing_since_ >= 0) {
        deadline = earliest(deadline, monotonic_now() + kClosingCheck);
    }
    return deadline;
}

// Waits for the line, the stop signal or the next deadline. False on failure.
bool Simulator::wait(pollfd (&fds)[2]) {
    const Nanos deadline = next_deadline();
    timespec timeout{};
    if (deadline >= 0) {
        const Nanos wait = std::max<Nanos>(0, deadline - monotonic_now());
        timeout = {static_cast<time_t>(wait / kNanosPerSecond),
                   static_cast<long>(wait % kNanosPerSecond)};
    }
    if (ppoll(fds, 2, deadline >= 0 ? &timeout : nullptr, nullptr) >= 0 || errno == EINTR) {
        return true;
    }
    std::fprintf(stderr, "h2sim: waiting on the line: %s\n", std::strerror(errno));
    return false;
}

// Does what the line's events and the time call for: takes requests in,
// sends what is due, logs what is over.
Simulator::Outcome Simulator::serve(short line_events, Nanos now) {
    if ((line_events & POLLOUT) != 0) {
        transmitter_.unblock();
    }
    if (!send_due(now) || ((line_events & POLLIN) != 0 && !read_requests(now))) {
        return Outcome::Failed;
    }
    std::vector<RequestEvent> expired;
    parser_.expire(now, expired);
    for (const RequestEvent& event : expired) {
        handle(event, now);
    }
    if (!send_due(now)) {
        return Outcome::Failed;
    }
    settle_finished();
    if (closing_done(now)) {
        return Outcome::Done;
    }
    if ((line_events & (POLLERR | POLLHUP)) != 0 && (line_events & POLLIN) == 0) {
        std::fprintf(stderr, "h2sim: the line failed\n");
        return Outcome::Failed;
    }
    return Outcome::Running;
}

int Simulator::run(int stop_fd) {
    for (;;) {
        const short line_events = POLLIN | (transmitter_.blocked() ? POLLOUT : 0);
        pollfd fds[2] = {{line_.master(), line_events, 0}, {stop_fd, POLLIN, 0}};
        if (!wait(fds)) {
            return kExitFailed;
        }
        if (fds[1].revents != 0) {
            transmitter_.stop();
            settle_finished();
            return kExitDone;
        }
        const Outcome outcome = serve(fds[0].revents, monotonic_now());
        if (outcome != Outcome::Running) {
            return outcome == Outcome::Failed ? kExitFailed : kExitDone;
        }
    }
}
