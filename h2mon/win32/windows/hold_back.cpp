#include "h2mon/win32/hold_back.h"

// The FTDI driver's latency timer lies in the registry, but only as the value it
// starts with: a program can change it on the open device, and other drivers
// say nothing. Not learned here.
LONG port_hold_back_ms(HANDLE) {
    return -1;
}
