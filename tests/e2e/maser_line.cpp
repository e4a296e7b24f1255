#include "tests/e2e/maser_line.h"

#include "telemetry/channels.h"
#include "tests/support/process.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace e2e {

namespace {

void check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }
}

} // namespace

MaserLine::MaserLine() {
    // Raw from the start: no echo of the polls back to h2mon before it sets the line up.
    termios line = settings();
    cfmakeraw(&line);
    change_settings(line);
}

MaserLine::~MaserLine() {
    stop();
}

void MaserLine::play(std::function<Reply(int)> script) {
    script_ = std::move(script);
    thread_ = std::thread([this] { serve(); });
}

void MaserLine::serve() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        pollfd entry{line_.master_fd(), POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0) {
            continue;
        }
        unsigned char buffer[256];
        const ssize_t count = ::read(line_.master_fd(), buffer, sizeof buffer);
        if (count <= 0) {
            if (count < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        const int before = static_cast<int>(exchanges().size());
        take(buffer, static_cast<std::size_t>(count));
        const int after = static_cast<int>(exchanges().size());
        for (int poll = before + 1; poll <= after; ++poll) {
            if (!handle_poll(poll)) {
                return;
            }
        }
    }
}

void MaserLine::take(const unsigned char* bytes, std::size_t count) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
        received_.push_back(bytes[i]);
        if (unpolled_ == 0) {
            poll_started_ = now;
        }
        if (++unpolled_ == kPollLength) {
            exchanges_.push_back({poll_started_, now, {}});
            unpolled_ = 0;
        }
    }
    changed_.notify_all();
}

bool MaserLine::handle_poll(int poll) {
    Reply reply = script_(poll);
    if (reply.kind == Reply::Kind::HangUp) {
        if (h2test::write_all(line_.master_fd(), reply.bytes.data(), reply.bytes.size())) {
            line_.wait_until_taken(5000);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        line_.close_master();
        return false;
    }
    if (reply.kind == Reply::Kind::Silence) {
        return true;
    }
    if (reply.before_answer) {
        reply.before_answer();
    }
    std::this_thread::sleep_for(reply.delay);
    if (!h2test::write_all(line_.master_fd(), reply.bytes.data(), reply.bytes.size())) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    exchanges_[static_cast<std::size_t>(poll - 1)].answered = Clock::now();
    return true;
}

Bytes MaserLine::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<Exchange> MaserLine::exchanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exchanges_;
}

bool MaserLine::wait_for_polls(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return exchanges_.size() >= count; });
}

void MaserLine::hold_output() {
    check(line_.hold_output(true), "tcflow");
}

void MaserLine::stream_noise(std::chrono::microseconds every) {
    noise_ = std::thread([this, every] {
        const unsigned char byte = 0x55;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_ || line_.master_fd() < 0) {
                    return;
                }
                // Once h2mon has gone, its line fills up: a byte is sent only
                // when it can be taken, so that the test never blocks.
                pollfd entry{line_.master_fd(), POLLOUT, 0};
                if (::poll(&entry, 1, 0) == 1 && (entry.revents & POLLOUT) != 0 &&
                    ::write(line_.master_fd(), &byte, 1) == 1) {
                    ++noise_sent_;
                    changed_.notify_all();
                }
            }
            std::this_thread::sleep_for(every);
        }
    });
}

bool MaserLine::wait_for_noise(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return noise_sent_ >= count; });
}

void MaserLine::hang_up() {
    stop();
    std::lock_guard<std::mutex> lock(mutex_);
    line_.close_master();
}

void MaserLine::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (noise_.joinable()) {
        noise_.join();
    }
}

termios MaserLine::settings() const {
    return line_.settings();
}

void MaserLine::change_settings(const termios& line) const {
    line_.change_settings(line);
}

} // namespace e2e
