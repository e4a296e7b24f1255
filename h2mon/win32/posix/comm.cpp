// Opening a serial port, its line settings, time-outs, buffers and control
// lines. Byte traffic is in comm_io.cpp.
#include "h2mon/win32/posix/comm.h"
#include "h2mon/win32/com_name.h"
#include "h2mon/win32/posix/dcb_termios.h"
#include "h2mon/win32/posix/errno_map.h"
#include "h2mon/win32/posix/errors.h"
#include "h2mon/win32/posix/port_names.h"
#include "h2mon/win32/posix/serial_port.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr char kDeviceDirectory[] = "/dev/";

// A COM name, with or without leading zeros (those map to no device).
bool is_com_name(const char* name) {
    const ComName com = read_com_name(name);
    return com.length != 0 && name[com.length] == '\0';
}

// "/dev/COM35" names the device mapped to COM35 ("/dev/ttyUSB2"); any other path
// is used as it stands. False for a COM name outside the mapping.
bool resolve_device_path(const std::string& path, std::string& device) {
    const std::string directory = kDeviceDirectory;
    if (path.compare(0, directory.size(), directory) != 0 ||
        !is_com_name(path.c_str() + directory.size())) {
        device = path;
        return true;
    }
    char tty[32] = {};
    if (!com_name_to_tty(path.c_str() + directory.size(), tty, sizeof tty)) {
        return false;
    }
    device = directory + tty;
    return true;
}

int open_flags(DWORD desired_access) {
    // O_NONBLOCK: opening must not wait for a carrier, and reads and writes wait
    // with poll under the port's own time-outs. O_NOCTTY: the port never becomes
    // the controlling terminal of the program.
    const int common = O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
    const bool read = (desired_access & GENERIC_READ) != 0;
    const bool write = (desired_access & GENERIC_WRITE) != 0;
    if (read && write) {
        return common | O_RDWR;
    }
    return common | (write ? O_WRONLY : O_RDONLY);
}

int open_device(const std::string& device, DWORD desired_access) {
    int fd = -1;
    do {
        fd = open(device.c_str(), open_flags(desired_access));
    } while (fd == -1 && errno == EINTR);
    return fd;
}

// Windows sharing between openers: without sharing the opener needs the device
// to itself, with it the opener only keeps out one that wants it alone. The lock
// belongs to this open file description, so it also holds between two opens in
// one process and applies to root; and the kernel drops it with the last
// descriptor, however the holder ends (even killed), so nothing it leaves
// behind can keep the next opener out. (TIOCEXCL would outlive a killed holder
// while the far end of the line stays open.)
bool lock_device(int fd, DWORD share_mode) {
    const int kind = share_mode == 0 ? LOCK_EX : LOCK_SH;
    int result = 0;
    do {
        result = flock(fd, kind | LOCK_NB);
    } while (result == -1 && errno == EINTR);
    return result == 0;
}

HANDLE fail_open(int fd, int error) {
    close(fd);
    set_last_error_from_errno(error);
    return INVALID_HANDLE_VALUE;
}

HANDLE fail_with(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

bool set_modem_line(int fd, int line, bool raise) {
    int bits = line;
    return tty_ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

// A device without modem lines (a pseudo-terminal) refuses the modem ioctls;
// that is not a failure of the line settings.
bool modem_line_refused_as_absent(int error) {
    return error == ENOTTY || error == EINVAL;
}

bool apply_control_lines(int fd, const DCB& dcb) {
    const bool dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    if (!set_modem_line(fd, TIOCM_DTR, dtr)) {
        return modem_line_refused_as_absent(errno);
    }
    // Under RTS handshaking the driver switches RTS; toggling mode starts low.
    const bool rts =
        dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (!set_modem_line(fd, TIOCM_RTS, rts)) {
        return modem_line_refused_as_absent(errno);
    }
    return true;
}

BOOL fail_errno(int error) {
    set_last_error_from_errno(error);
    return FALSE;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES /*securityAttributes*/, DWORD creationDisposition,
                   DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
    if (fileName == nullptr || creationDisposition != OPEN_EXISTING) {
        return fail_with(ERROR_INVALID_PARAMETER);
    }
    std::string device;
    if (!resolve_device_path(fileName, device)) {
        return fail_with(ERROR_FILE_NOT_FOUND);
    }
    const int fd = open_device(device, desiredAccess);
    if (fd == -1) {
        return fail_with(win32_error_from_errno(errno));
    }
    if (!lock_device(fd, shareMode)) {
        return fail_open(fd, errno);
    }
    termios2 original{};
    if (!read_line_settings(fd, original)) {
        return fail_open(fd, errno);
    }
    return register_handle(new SerialPort(fd, original));
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
    SerialPort* port = serial_port_from_handle(file);
    if (port == nullptr) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    termios2 line{};
    if (!read_line_settings(port->fd(), line)) {
        return fail_errno(errno);
    }
    *dcb = port->current_settings(line);
    return TRUE;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    SerialPort* port = serial_port_from_handle(file);
    if (port == nullptr) {
        return FALSE;
    }
    if (dcb == nullptr || !dcb_is_acceptable(*dcb)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    termios2 before{};
    if (!read_line_settings(port->fd(), before)) {
        return fail_errno(errno);
    }
    termios2 wanted = before;
    apply_dcb_to_line(*dcb, wanted);
    if (!write_line_settings(port->fd(), wanted)) {
        return fail_errno(errno);
    }
    termios2 actual{};
    if (!read_line_settings(port->fd(), actual)) {
        return fail_errno(errno);
    }
    if (!line_matches(wanted, actual, port->has_wire_framing())) {
        // The device cannot do what was asked: refuse, as a Windows driver does,
        // instead of running the line with settings nobody chose.
        write_line_settings(port->fd(), before);
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!apply_control_lines(port->fd(), *dcb)) {
        return fail_errno(errno);
    }
    port->remember(*dcb, actual);
    return TRUE;
}

// Reads are timed one way only, the serial port class's: return the bytes
// waiting, or wait up to the constant for one. Other read timings are refused.
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    SerialPort* port = serial_port_from_handle(file);
    if (port == nullptr) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (timeouts->ReadIntervalTimeout != MAXDWORD ||
        timeouts->ReadTotalTimeoutMultiplier != MAXDWORD ||
        timeouts->ReadTotalTimeoutConstant == 0 || timeouts->ReadTotalTimeoutConstant == MAXDWORD) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    port->first_byte_wait_ms = timeouts->ReadTotalTimeoutConstant;
    port->write_ms_per_byte = timeouts->WriteTotalTimeoutMultiplier;
    port->write_ms_constant = timeouts->WriteTotalTimeoutConstant;
    return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    SerialPort* port = serial_port_from_handle(file);
    if (port == nullptr) {
        return FALSE;
    }
    constexpr DWORD kReceive = PURGE_RXABORT | PURGE_RXCLEAR;
    constexpr DWORD kTransmit = PURGE_TXABORT | PURGE_TXCLEAR;
    if ((flags & ~(kReceive | kTransmit)) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Reads and writes are synchronous, so no operation is pending to abort:
    // both kinds of flag come down to emptying the queue.
    const bool receive = (flags & kReceive) != 0;
    const bool transmit = (flags & kTransmit) != 0;
    if (!receive && !transmit) {
        return TRUE;
    }
    const long queue = receive && transmit ? TCIOFLUSH : (receive ? TCIFLUSH : TCOFLUSH);
    if (tty_ioctl(port->fd(), TCFLSH, reinterpret_cast<void*>(queue)) != 0) {
        return fail_errno(errno);
    }
    return TRUE;
}

// The control lines only: XON/XOFF and BREAK are not supported here.
BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    SerialPort* port = serial_port_from_handle(file);
    if (port == nullptr) {
        return FALSE;
    }
    bool done = false;
    switch (function) {
    case SETRTS:
    case CLRRTS:
        done = set_modem_line(port->fd(), TIOCM_RTS, function == SETRTS);
        break;
    case SETDTR:
    case CLRDTR:
        done = set_modem_line(port->fd(), TIOCM_DTR, function == SETDTR);
        break;
    default:
        return fail(ERROR_NOT_SUPPORTED);
    }
    return done ? TRUE : fail_errno(errno);
}
