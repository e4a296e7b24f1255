// How long the device behind a serial port may hold received bytes back before
// it hands them over to the program.
#pragma once

#include "h2mon/win32/win32.h"

// Milliseconds that the device behind the open port `port` may keep received
// bytes before handing them over: a USB adapter's latency timer (an FTDI chip
// holds a partial USB packet until it expires), 0 for a device that holds none
// back (a pseudo-terminal, a UART on the machine's own bus, whose FIFO hands
// bytes over within a few character times), or -1 when it cannot be learned.
LONG port_hold_back_ms(HANDLE port);
