#include "h2mon/io/console_device.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The controlling terminal, opened on first use; -1 when the process has none,
// in which case console output is dropped.
int console_device() {
    static const int fd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return fd;
}

} // namespace

int console_putch(int character) {
    const int fd = console_device();
    if (fd < 0) {
        return EOF;
    }
    const unsigned char byte = static_cast<unsigned char>(character);
    ssize_t written;
    do {
        written = write(fd, &byte, 1);
    } while (written < 0 && errno == EINTR);
    return written == 1 ? byte : EOF;
}
