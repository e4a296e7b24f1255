#include "h2mon/win32/posix/serial_port.h"
#include "h2mon/win32/posix/dcb_termios.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Unix98 pseudo-terminal slaves use these character-device majors.
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

LineSettingsFilter line_settings_filter = nullptr;

// What a freshly opened Windows port reports for the fields a terminal device
// has no place for: control lines on, the usual flow-control thresholds.
DCB default_settings() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    return dcb;
}

bool same_line(const termios2& a, const termios2& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

SerialPort::SerialPort(int fd, const termios2& original)
    : fd_(fd), original_(original), wire_framing_(!is_pseudo_terminal(fd)),
      settings_(dcb_from_line(original, default_settings())), applied_(original) {}

SerialPort::~SerialPort() {
    write_line_settings(fd_, original_);
    flock(fd_, LOCK_UN);
    close(fd_);
}

DCB SerialPort::current_settings(const termios2& line) const {
    // While the line is as this handle left it, the DCB applied describes it
    // best (termios cannot tell CTS checking from RTS handshaking, and a
    // pseudo-terminal does not keep data bits and parity). A line changed
    // behind this handle's back is described from its settings.
    if (!same_line(line, applied_)) {
        return dcb_from_line(line, settings_);
    }
    DCB dcb = settings_;
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    return dcb;
}

void SerialPort::remember(const DCB& dcb, const termios2& line) {
    settings_ = dcb;
    applied_ = line;
}

bool is_pseudo_terminal(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    const unsigned device_major = major(status.st_rdev);
    return device_major >= kFirstPtySlaveMajor && device_major <= kLastPtySlaveMajor;
}

SerialPort* serial_port_from_handle(HANDLE handle) {
    return handle_object<SerialPort>(handle);
}

int tty_ioctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

bool read_line_settings(int fd, termios2& line) {
    return tty_ioctl(fd, TCGETS2, &line) == 0;
}

bool write_line_settings(int fd, const termios2& line) {
    termios2 copy = line;
    if (line_settings_filter != nullptr) {
        line_settings_filter(copy);
    }
    return tty_ioctl(fd, TCSETS2, &copy) == 0;
}

void set_line_settings_filter(LineSettingsFilter filter) {
    line_settings_filter = filter;
}
