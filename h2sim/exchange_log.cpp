// The exchange log: one line per poll, in poll order, written and flushed as
// soon as the exchange is over (its answer, stray bytes and noise are out):
//
//   <poll> <actions> <sent> <clean|dirty> <frame>
//
// poll     the poll's number, 1 for the first poll received.
// actions  "full" for a correct answer; otherwise the faults, joined by '+',
//          in this order: late:MS, gaps:CHUNK/MS, short:N, silent, corrupt:N,
//          stray:N, noise:N; then "stopped" when the simulator was stopped
//          before the exchange was over.
// sent     how many bytes of <frame>, from its first, went out as the answer.
//          An answer's bytes always go out as one run with nothing between
//          them, so <sent> equal to the frame's length means the frame went
//          out whole (stray bytes after it and noise are not counted).
// clean    "clean" when the program surely received exactly <frame> for this
//          poll: a whole 189-byte frame, on time, with nothing before it that
//          the program could still be reading and nothing after it
//          (line_account.h gives the exact rule); "dirty" otherwise. A
//          "dirty" frame that went out whole may still have been received.
// frame    the bytes meant as the answer, as upper-case hexadecimal digits
//          (378 for a 189-byte frame): the simulated frame, or the line of the
//          frame file, with any corrupted bytes as they were sent.
//
// With --log-times each line goes on with three times, in nanoseconds of
// CLOCK_MONOTONIC (the clock of std::chrono::steady_clock on Linux, so that
// another program can set its own readings beside them):
//
//   <poll-arrived> <first-sent> <last-sent>
//
// when the poll's first byte arrived, and when the first and the latest byte
// of the answer or its stray bytes went out; -1 for none.
#include "h2sim/exchange_log.h"

#include "telemetry/hex.h"

#include <cerrno>
#include <cstring>

std::string exchange_log_line(const Exchange& exchange, bool clean, bool times) {
    std::string line = std::to_string(exchange.poll) + " " + exchange.actions +
                       (exchange.sent.stopped ? "+stopped " : " ") +
                       std::to_string(exchange.sent.answer_sent) + (clean ? " clean " : " dirty ");
    append_hex(line, exchange.frame.data(), exchange.frame.size());
    if (times) {
        for (Nanos time :
             {exchange.poll_first, exchange.sent.first_write, exchange.sent.last_write}) {
            line += " " + std::to_string(time);
        }
    }
    return line;
}

ExchangeLog::~ExchangeLog() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool ExchangeLog::open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ExchangeLog::write(const Exchange& exchange, bool clean) {
    if (file_ != nullptr) {
        std::fprintf(file_, "%s\n", exchange_log_line(exchange, clean, times_).c_str());
        std::fflush(file_);
    }
}
