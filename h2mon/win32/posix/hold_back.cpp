// A device's hold-back from sysfs, where /sys/dev/char/MAJOR:MINOR is the
// terminal device: a usb-serial driver that has a latency timer (ftdi_sio) shows
// it as device/latency_timer in milliseconds; a UART of the serial core shows
// its clock (uartclk) and its type (0 for a placeholder without hardware).
#include "h2mon/win32/posix/hold_back.h"
#include "h2mon/win32/hold_back.h"
#include "h2mon/win32/posix/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr char kSysfsRoot[] = "/sys";
// An FTDI chip's latency timer takes at most 255 ms.
constexpr long kLongestLatencyMs = 255;

// A short sysfs attribute's first line; false when it cannot be read. (Plain
// reads: this runs at every frame, and file streams would cost the program
// their locale's memory.)
bool read_attribute(const std::string& path, std::string& value) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char text[32];
    ssize_t n = -1;
    do {
        n = read(fd, text, sizeof text - 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n < 0) {
        return false;
    }
    value.assign(text, static_cast<std::size_t>(n));
    value.erase(std::min(value.find('\n'), value.size()));
    return true;
}

// A whole number in 0..kLongestLatencyMs taking the whole attribute.
bool read_latency(const std::string& path, long& value) {
    std::string text;
    if (!read_attribute(path, text) || text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end != text.c_str() && *end == '\0' && value >= 0 &&
           value <= kLongestLatencyMs;
}

} // namespace

std::int32_t device_hold_back_ms(int fd, const std::string& sysfs_root) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return -1;
    }
    const std::string device = sysfs_root + "/dev/char/" + std::to_string(major(status.st_rdev)) +
                               ":" + std::to_string(minor(status.st_rdev));
    long latency = 0;
    if (read_latency(device + "/device/latency_timer", latency)) {
        return static_cast<std::int32_t>(latency);
    }
    if (is_pseudo_terminal(fd)) {
        return 0;
    }
    std::string type;
    if (access((device + "/uartclk").c_str(), F_OK) == 0 &&
        read_attribute(device + "/type", type) && type != "0") {
        return 0;
    }
    return -1;
}

LONG port_hold_back_ms(HANDLE port) {
    SerialPort* serial = serial_port_from_handle(port);
    if (serial == nullptr) {
        return -1;
    }
    return device_hold_back_ms(serial->fd(), kSysfsRoot);
}
