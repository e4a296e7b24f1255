#include "h2sim/request_parser.h"

#include <algorithm>

bool RequestParser::prefix_matches() const {
    return std::equal(prefix_.begin(), prefix_.end(), kPoll);
}

void RequestParser::report_garbage(std::vector<RequestEvent>& events) {
    if (!garbage_.empty()) {
        events.push_back({RequestEvent::Garbage, garbage_start_, garbage_});
        garbage_.clear();
    }
}

void RequestParser::take(std::uint8_t byte, Nanos when, std::vector<RequestEvent>& events) {
    prefix_.push_back(byte);
    prefix_times_.push_back(when);
    // Drop bytes from the front until what is left can still become a poll.
    while (!prefix_.empty() && !prefix_matches()) {
        if (garbage_.empty()) {
            garbage_start_ = prefix_times_.front();
        }
        garbage_.push_back(prefix_.front());
        prefix_.erase(prefix_.begin());
        prefix_times_.erase(prefix_times_.begin());
    }
    if (prefix_.size() == kPollLength) {
        report_garbage(events);
        events.push_back({RequestEvent::Poll, prefix_times_.front(), {}});
        prefix_.clear();
        prefix_times_.clear();
    }
}

void RequestParser::feed(const std::uint8_t* data, std::size_t count, Nanos when,
                         std::vector<RequestEvent>& events) {
    for (std::size_t i = 0; i < count; ++i) {
        take(data[i], when, events);
    }
    report_garbage(events);
}

void RequestParser::expire(Nanos now, std::vector<RequestEvent>& events) {
    if (prefix_.empty() || now < deadline()) {
        return;
    }
    garbage_start_ = prefix_times_.front();
    garbage_ = prefix_;
    prefix_.clear();
    prefix_times_.clear();
    report_garbage(events);
}

Nanos RequestParser::deadline() const {
    return prefix_.empty() ? -1 : prefix_times_.back() + kUnfinishedPollTimeout;
}
