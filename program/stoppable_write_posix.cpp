#include "program/stoppable_write.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

WriteEnd failed(int number, const char* what, std::string& error, int* error_number) {
    error = std::string(what) + std::strerror(number);
    if (error_number != nullptr) {
        *error_number = number;
    }
    return WriteEnd::kFailed;
}

} // namespace

WriteEnd write_unless_stopped(std::FILE* file, std::string_view bytes, const StopSignals* stops,
                              std::string& error, int* error_number) {
    const int fd = fileno(file);
    if (fd < 0) { // a stream in memory, which no reader can hold
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
            std::fflush(file) != 0) {
            return failed(errno, "", error, error_number);
        }
        return WriteEnd::kWritten;
    }
    if (std::fflush(file) != 0) {
        return failed(errno, "", error, error_number);
    }
    while (!bytes.empty()) {
        // poll passes over a negative descriptor: no stops, no stop.
        pollfd waits[2] = {{fd, POLLOUT, 0}, {stops != nullptr ? stops->fd() : -1, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed(errno, "poll: ", error, error_number);
        }
        // A reader that takes what comes gets it, stop or not: only a wait for
        // one that takes nothing is cut short.
        if (waits[0].revents == 0) {
            return WriteEnd::kStopped;
        }
        // A pipe that polls writable takes PIPE_BUF bytes without blocking; a
        // larger write could wait for the reader again, out of reach of a stop.
        const ssize_t wrote =
            ::write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
        if (wrote < 0 && errno != EINTR && errno != EAGAIN) {
            return failed(errno, "", error, error_number);
        }
        bytes.remove_prefix(wrote > 0 ? static_cast<std::size_t>(wrote) : 0);
    }
    return WriteEnd::kWritten;
}
