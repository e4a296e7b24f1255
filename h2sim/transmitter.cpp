#include "h2sim/transmitter.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

void Transmitter::enqueue(Exchange exchange) {
    queue_.push_back(std::move(exchange));
}

void Transmitter::begin_head() {
    if (!head_begun_ && !queue_.empty()) {
        queue_.front().start = std::max(queue_.front().start, line_free_at_);
        head_begun_ = true;
    }
}

Nanos Transmitter::next_due() const {
    if (queue_.empty() || blocked_) {
        return -1;
    }
    const Exchange& head = queue_.front();
    if (head.next_step == head.steps.size()) {
        return 0; // nothing left to send: finishes at once
    }
    const Nanos start = head_begun_ ? head.start : std::max(head.start, line_free_at_);
    return start + head.steps[head.next_step].offset;
}

void Transmitter::record(Exchange& exchange, std::size_t count, Nanos now) {
    SendRecord& sent = exchange.sent;
    bool answer_or_stray = false;
    for (std::size_t i = exchange.next_step; i < exchange.next_step + count; ++i) {
        switch (exchange.steps[i].role) {
        case ByteRole::Answer:
            ++sent.answer_sent;
            answer_or_stray = true;
            break;
        case ByteRole::Stray:
            ++sent.stray_sent;
            answer_or_stray = true;
            break;
        case ByteRole::Noise:
            ++sent.noise_sent;
            break;
        }
    }
    if (answer_or_stray) {
        if (sent.first_write < 0) {
            sent.first_write = now;
        } else {
            sent.longest_pause = std::max(sent.longest_pause, now - sent.last_write);
        }
        sent.last_write = now;
    }
    sent.last_byte = now;
    line_free_at_ = exchange.start + exchange.steps[exchange.next_step + count - 1].offset;
    exchange.next_step += count;
}

bool Transmitter::send_due(Nanos now) {
    while (!queue_.empty() && !blocked_) {
        begin_head();
        Exchange& head = queue_.front();
        std::vector<std::uint8_t> due;
        for (std::size_t i = head.next_step;
             i < head.steps.size() && head.start + head.steps[i].offset <= now; ++i) {
            due.push_back(head.steps[i].byte);
        }
        if (!due.empty()) {
            const ssize_t written = ::write(fd_, due.data(), due.size());
            if (written < 0) {
                if (errno != EAGAIN && errno != EINTR) {
                    return false;
                }
                blocked_ = errno == EAGAIN;
                continue;
            }
            record(head, static_cast<std::size_t>(written), now);
            blocked_ = static_cast<std::size_t>(written) < due.size();
        }
        if (head.next_step < head.steps.size()) {
            return true; // the rest is not due yet, or the line is full
        }
        finished_.push_back(std::move(head));
        queue_.pop_front();
        head_begun_ = false;
    }
    return true;
}

std::vector<Exchange> Transmitter::take_finished() {
    std::vector<Exchange> finished;
    finished.swap(finished_);
    return finished;
}

void Transmitter::stop() {
    for (Exchange& exchange : queue_) {
        exchange.sent.stopped = true;
        finished_.push_back(std::move(exchange));
    }
    queue_.clear();
    head_begun_ = false;
}
