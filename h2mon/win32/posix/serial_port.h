// The object behind a serial port handle of the Linux stand-ins: an open
// terminal device, the settings to restore when it is closed, and the parts of
// the Windows port state that termios does not hold.
#pragma once

#include <asm/termbits.h>

#include "h2mon/win32/posix/handles.h"
#include "h2mon/win32/posix/types.h"

class SerialPort : public HandleObject {
public:
    // Takes over an open terminal device whose settings are `original`; they
    // are put back when the port is closed.
    SerialPort(int fd, const termios2& original);
    // Restores the device's original settings and closes it.
    ~SerialPort() override;

    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int fd() const { return fd_; }
    // False for a pseudo-terminal: no bits go over a wire, and its driver always
    // reports eight data bits without parity whatever was set.
    bool has_wire_framing() const { return wire_framing_; }

    // The line's settings as a DCB.
    DCB current_settings(const termios2& line) const;
    // Records a DCB that SetCommState applied and the line it produced.
    void remember(const DCB& dcb, const termios2& line);

    // How long a ReadFile waits for a first byte when none is waiting: the
    // constant of the read time-outs last set; none after opening.
    DWORD first_byte_wait_ms = 0;
    // The write time-outs last set: a write may take this multiplier per byte
    // plus the constant; no limit when both are 0, as after opening.
    DWORD write_ms_per_byte = 0;
    DWORD write_ms_constant = 0;

private:
    int fd_;
    termios2 original_;
    bool wire_framing_;
    // The DCB that describes the line as this handle last left it, including
    // the fields termios has no place for, and that line itself.
    DCB settings_;
    termios2 applied_;
};

// The port behind a handle, or null with ERROR_INVALID_HANDLE as the last error.
SerialPort* serial_port_from_handle(HANDLE handle);

// Whether `fd` is the slave end of a pseudo-terminal.
bool is_pseudo_terminal(int fd);

// ioctl on a terminal device, repeated when a signal interrupts it.
int tty_ioctl(int fd, unsigned long request, void* argument);
bool read_line_settings(int fd, termios2& line);
bool write_line_settings(int fd, const termios2& line);

// Test seam: a filter that sees every line setting before it goes to the
// driver, so a test can stand in for a driver that quietly adjusts settings
// its hardware cannot do. Null (the default) for none.
using LineSettingsFilter = void (*)(termios2& line);
void set_line_settings_filter(LineSettingsFilter filter);
