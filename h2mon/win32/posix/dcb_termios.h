// Conversion between a Windows DCB and the line settings the kernel keeps for a
// terminal device. The kernel's termios2 record is used (not the C library's
// termios) because it carries arbitrary speeds, so every rate a DCB can name is
// set and read back exactly; a file that includes this header therefore must not
// include <termios.h>.
#pragma once

#include <asm/termbits.h>

#include "h2mon/win32/posix/types.h"

// Whether SetCommState accepts the DCB: a usable speed (never 0, which would
// hang up the line), 5 to 8 data bits, a known parity and stop-bit code, no
// combination of data and stop bits a UART cannot frame, a known DTR mode, and
// distinct XON and XOFF characters when software flow control is on.
bool dcb_is_acceptable(const DCB& dcb);

// Puts `line` in raw binary mode (no echo, no canonical input, no signals, no
// input or output translation, reads that never wait inside the driver) and
// applies the DCB's speed, framing, parity checking and flow control. Settings
// that have no termios counterpart (modem lines, the DCB's limits and event
// characters) are left to the caller.
void apply_dcb_to_line(const DCB& dcb, termios2& line);

// The DCB that describes `line`: speed, framing, parity checking, flow control
// and the XON/XOFF characters come from the line; every field termios cannot
// hold comes from `remembered`, the DCB last applied through this handle.
DCB dcb_from_line(const termios2& line, const DCB& remembered);

// Whether the driver kept the framing, flow control and (within the tolerance
// of a UART) the speed that `wanted` asked for. Drivers adjust settings their
// hardware cannot do instead of refusing them. `check_data_bits` is false for
// a device that sends no bits over a wire (a pseudo-terminal), whose driver
// always reports eight data bits without parity.
bool line_matches(const termios2& wanted, const termios2& actual, bool check_data_bits);

// The output speed of the line in bits per second (0 for a hung-up line).
DWORD line_speed(const termios2& line);
