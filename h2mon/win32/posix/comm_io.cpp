// Byte traffic on a serial port: reads timed as the serial port class sets a
// Windows port's COMMTIMEOUTS, and synchronous writes. The device is
// non-blocking and never waits inside the driver; all waiting is done here with
// ppoll, which counts in nanoseconds where termios VTIME counts tenths of seconds.
#include "h2mon/win32/posix/comm.h"
#include "h2mon/win32/posix/errno_map.h"
#include "h2mon/win32/posix/errors.h"
#include "h2mon/win32/posix/serial_port.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Nanoseconds = std::int64_t;

constexpr Nanoseconds kNoDeadline = INT64_MAX;
constexpr Nanoseconds kPerMillisecond = 1000000;

Nanoseconds now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<Nanoseconds>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

Nanoseconds after(Nanoseconds start, std::uint64_t milliseconds) {
    // Products of two 32-bit counts stay far below the limit; only the sum can reach it.
    const std::uint64_t span = milliseconds * static_cast<std::uint64_t>(kPerMillisecond);
    if (span >= static_cast<std::uint64_t>(kNoDeadline - start)) {
        return kNoDeadline;
    }
    return start + static_cast<Nanoseconds>(span);
}

enum class Wait { Ready, TimedOut, Failed };

// Waits until the device is ready for `events` or has gone away, or the deadline
// passes. A signal only restarts the wait for the time that is left.
Wait wait_for(int fd, short events, Nanoseconds deadline, short& revents) {
    for (;;) {
        pollfd entry{fd, events, 0};
        timespec pause{};
        timespec* limit = nullptr;
        if (deadline != kNoDeadline) {
            // A deadline already passed still looks once at what is ready.
            const Nanoseconds current = now();
            const Nanoseconds left = deadline > current ? deadline - current : 0;
            pause.tv_sec = static_cast<time_t>(left / 1000000000);
            pause.tv_nsec = static_cast<long>(left % 1000000000);
            limit = &pause;
        }
        const int result = ppoll(&entry, 1, limit, nullptr);
        if (result > 0) {
            revents = entry.revents;
            return Wait::Ready;
        }
        if (result == 0) {
            return Wait::TimedOut;
        }
        if (errno != EINTR) {
            return Wait::Failed;
        }
    }
}

bool gone_away(short revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

enum class Fetch { Got, Nothing, Failed };

// Reads what the device holds after a wait reported it ready. A device that
// reports a hang-up or error and has no byte left has gone away (a pulled USB
// adapter, a pseudo-terminal whose other end closed): that is a failure, never
// an endless run of empty reads.
Fetch fetch(int fd, short revents, unsigned char* buffer, DWORD wanted, DWORD& received) {
    ssize_t n = -1;
    do {
        n = read(fd, buffer + received, wanted - received);
    } while (n == -1 && errno == EINTR);
    if (n > 0) {
        received += static_cast<DWORD>(n);
        return Fetch::Got;
    }
    if (n == -1 && errno != EAGAIN) {
        set_last_error_from_errno(errno);
        return Fetch::Failed;
    }
    if (gone_away(revents)) {
        set_last_error_from_errno(EIO);
        return Fetch::Failed;
    }
    return Fetch::Nothing;
}

BOOL finish(LPDWORD count, DWORD done, BOOL result) {
    if (count != nullptr) {
        *count = done;
    }
    return result;
}

// The port of a ReadFile or WriteFile, with the caller's count set to 0; null,
// with the error set, for a handle that is no port or a missing buffer.
SerialPort* transfer_port(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD count) {
    if (count != nullptr) {
        *count = 0;
    }
    SerialPort* port = serial_port_from_handle(file);
    if (port != nullptr && buffer == nullptr && length > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return port;
}

enum class Push { Done, Full, Failed };

// Hands the system as many of the remaining bytes as it takes now.
Push push(int fd, const unsigned char* bytes, DWORD length, DWORD& written) {
    while (written < length) {
        const ssize_t n = write(fd, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<DWORD>(n);
        } else if (n == 0 || errno == EAGAIN) {
            return Push::Full;
        } else if (errno != EINTR) {
            set_last_error_from_errno(errno);
            return Push::Failed;
        }
    }
    return Push::Done;
}

bool drain_output(int fd) {
    while (ioctl(fd, TCSBRK, 1) != 0) { // tcdrain; <termios.h> clashes with termios2
        if (errno != EINTR) {
            set_last_error_from_errno(errno);
            return false;
        }
    }
    return true;
}

// Waits until the bytes handed to the system have left the line, as a synchronous
// Windows serial write does. Callers rely on it: RTS raised around a poll's first
// byte must not drop while that byte is still in the UART. With a deadline, bytes
// that the line holds off (an XOFF, CTS low) past it are taken back, as a Windows
// write time-out leaves them unsent, and `written` no longer counts them.
bool wait_until_sent(int fd, Nanoseconds deadline, DWORD& written) {
    if (deadline == kNoDeadline) {
        return drain_output(fd);
    }
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
            set_last_error_from_errno(errno);
            return false;
        }
        if (queued <= 0) {
            // What is left is in the UART, which sends it within a few character times.
            return drain_output(fd);
        }
        if (now() >= deadline) {
            ioctl(fd, TCFLSH, TCOFLUSH);
            written -= static_cast<DWORD>(queued) < written ? static_cast<DWORD>(queued) : written;
            return true;
        }
        const timespec pause{0, kPerMillisecond};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

// The one timing the serial port class sets: return at once with the bytes
// waiting, or, when none are, as soon as one arrives or after the port's read
// time-out with none.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED /*overlapped*/) {
    SerialPort* port = transfer_port(file, buffer, bytesToRead, bytesRead);
    if (port == nullptr) {
        return FALSE;
    }
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    const Nanoseconds deadline = after(now(), port->first_byte_wait_ms);
    DWORD received = 0;
    while (bytesToRead > 0) {
        short revents = 0;
        const Wait wait = wait_for(port->fd(), POLLIN, deadline, revents);
        if (wait == Wait::TimedOut) {
            break;
        }
        if (wait == Wait::Failed) {
            set_last_error_from_errno(errno);
            return finish(bytesRead, received, FALSE);
        }
        const Fetch got = fetch(port->fd(), revents, bytes, bytesToRead, received);
        if (got == Fetch::Failed) {
            return finish(bytesRead, received, FALSE);
        }
        // Ready without a byte (another reader took it): the time-out still ends the read.
        if (got == Fetch::Got || now() >= deadline) {
            break;
        }
    }
    return finish(bytesRead, received, TRUE);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED /*overlapped*/) {
    SerialPort* port = transfer_port(file, buffer, bytesToWrite, bytesWritten);
    if (port == nullptr) {
        return FALSE;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    const std::uint64_t total = static_cast<std::uint64_t>(port->write_ms_per_byte) * bytesToWrite +
                                port->write_ms_constant;
    const Nanoseconds deadline = total == 0 ? kNoDeadline : after(now(), total);
    DWORD written = 0;
    for (;;) {
        const Push pushed = push(port->fd(), bytes, bytesToWrite, written);
        if (pushed == Push::Done) {
            const bool sent = wait_until_sent(port->fd(), deadline, written);
            return finish(bytesWritten, written, sent ? TRUE : FALSE);
        }
        if (pushed == Push::Failed) {
            return finish(bytesWritten, written, FALSE);
        }
        // The output queue is full: wait until the system takes more.
        short revents = 0;
        const Wait wait = wait_for(port->fd(), POLLOUT, deadline, revents);
        if (wait == Wait::TimedOut) {
            // A write time-out is no error: the count tells how much went out.
            return finish(bytesWritten, written, TRUE);
        }
        if (wait == Wait::Failed || (gone_away(revents) && (revents & POLLOUT) == 0)) {
            set_last_error_from_errno(wait == Wait::Failed ? errno : EIO);
            return finish(bytesWritten, written, FALSE);
        }
    }
}
