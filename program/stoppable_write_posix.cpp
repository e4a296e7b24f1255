#include "program/stoppable_write.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <unistd.h>

WriteEnd write_unless_stopped(std::FILE* file, std::string_view bytes, const StopSignals* stops,
                              std::string& error) {
    if (std::fflush(file) != 0) {
        error = std::strerror(errno);
        return WriteEnd::kFailed;
    }
    const int fd = fileno(file);
    while (!bytes.empty()) {
        // poll passes over a negative descriptor: no stops, no stop.
        pollfd waits[2] = {{fd, POLLOUT, 0}, {stops != nullptr ? stops->fd() : -1, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::string("poll: ") + std::strerror(errno);
            return WriteEnd::kFailed;
        }
        if (waits[1].revents != 0) {
            return WriteEnd::kStopped;
        }
        // A pipe that polls writable takes PIPE_BUF bytes without blocking; a
        // larger write could wait for the reader again, out of reach of a stop.
        const ssize_t wrote =
            ::write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
        if (wrote < 0 && errno != EINTR && errno != EAGAIN) {
            error = std::strerror(errno);
            return WriteEnd::kFailed;
        }
        bytes.remove_prefix(wrote > 0 ? static_cast<std::size_t>(wrote) : 0);
    }
    return WriteEnd::kWritten;
}
