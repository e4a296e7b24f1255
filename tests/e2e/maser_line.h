// A serial line whose far end the test plays: a pseudo-terminal whose slave
// device is the port h2mon opens. A thread of the test takes every byte h2mon
// sends, with its arrival time, counts every five bytes as a poll and answers it
// as a script says: with given bytes (a frame, a short frame, a frame with stray
// bytes after it), late, not at all, or by hanging the line up once h2mon has
// read the start of an answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <termios.h>
#include <thread>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/pseudo_terminal.h"

namespace e2e {

using h2test::Bytes;
using Clock = std::chrono::steady_clock;

// What the maser does about one poll.
struct Reply {
    enum class Kind { Answer, Silence, HangUp };
    Kind kind = Kind::Answer;
    Bytes bytes;                         // Answer, HangUp: sent in one write
    std::chrono::milliseconds delay{0};  // Answer: how long after the poll
    std::function<void()> before_answer; // Answer: runs right after the poll arrives

    static Reply answer(Bytes bytes, std::chrono::milliseconds delay = {}) {
        return {Kind::Answer, std::move(bytes), delay, {}};
    }
    static Reply silence() { return {Kind::Silence, {}, {}, {}}; }
    // Sends `first` (part of an answer), waits until h2mon has read it, and
    // hangs up: h2mon, having read, is past its poll's writes for certain.
    static Reply hang_up(Bytes first) { return {Kind::HangUp, std::move(first), {}, {}}; }
};

// One poll and what came of it.
struct Exchange {
    Clock::time_point first_byte; // the poll's first byte arrived
    Clock::time_point polled;     // its last byte arrived
    Clock::time_point answered;   // the answer's last byte went out (Answer only)
};

class MaserLine {
public:
    // The pseudo-terminal in raw mode, its slave kept open by the test so that
    // its settings outlive h2mon's opening and closing.
    MaserLine();
    ~MaserLine();
    MaserLine(const MaserLine&) = delete;
    MaserLine& operator=(const MaserLine&) = delete;

    const std::string& path() const { return line_.path(); }

    // Starts answering: `script(n)` says what to do about poll n (1 for the first).
    void play(std::function<Reply(int poll)> script);

    // Every byte received so far, in order.
    Bytes received() const;
    std::vector<Exchange> exchanges() const;
    // Waits until `count` polls have come; false after `timeout`.
    bool wait_for_polls(std::size_t count, std::chrono::milliseconds timeout) const;

    // Stops the line's output (as flow control would): h2mon's writes then block.
    void hold_output();
    // Sends a byte every `every` from now on, whatever h2mon does, as a line that
    // picks up noise or an instrument that streams.
    void stream_noise(std::chrono::microseconds every);
    // Waits until `count` bytes of that noise have gone out; false after `timeout`.
    bool wait_for_noise(std::size_t count, std::chrono::milliseconds timeout) const;
    // The far end goes away: the line is hung up.
    void hang_up();

    termios settings() const;
    // Whether the port is marked for exclusive use (TIOCEXCL).
    bool exclusive() const { return line_.exclusive(); }
    void change_settings(const termios& line) const;

private:
    void serve();
    void take(const unsigned char* bytes, std::size_t count);
    bool handle_poll(int poll);
    void stop();

    PseudoTerminal line_;
    std::function<Reply(int)> script_;
    std::thread thread_;
    std::thread noise_;
    bool stopping_ = false; // guarded by mutex_

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Bytes received_;
    std::vector<Exchange> exchanges_;
    std::size_t noise_sent_ = 0;
    std::size_t unpolled_ = 0;       // bytes received since the last whole poll
    Clock::time_point poll_started_; // when the first of them came
};

} // namespace e2e
