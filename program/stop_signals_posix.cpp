#include "program/stop_signals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

// The stop signals stay blocked for the whole run and arrive through a
// signalfd: pending until the program looks, and the descriptor stays
// readable from then on. No handler runs, so no thread ever sees them.
StopSignals::StopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stops, number);
    }
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) {
        error_ = std::string("sigprocmask: ") + std::strerror(errno);
        return;
    }
    fd_ = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) {
        error_ = std::string("signalfd: ") + std::strerror(errno);
    }
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool StopSignals::ok(std::string& error) const {
    error = error_;
    return fd_ >= 0;
}

bool StopSignals::requested() const {
    pollfd pfd{fd_, POLLIN, 0};
    return fd_ >= 0 && ::poll(&pfd, 1, 0) > 0;
}

bool StopSignals::wait(std::chrono::milliseconds timeout) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return requested();
        }
        // poll passes over a negative descriptor: without one, only the time counts.
        pollfd pfd{fd_, POLLIN, 0};
        const int slice = static_cast<int>(std::min<long long>(left, 1000000));
        if (::poll(&pfd, 1, slice) > 0) {
            return true;
        }
        // Woken early by another signal's handler (EINTR): wait on for the rest.
    }
}
