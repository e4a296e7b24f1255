// The device path that opens a serial port given by name.
#pragma once

#include "h2mon/win32/win32.h"

// Writes into `path` (of `size` characters) the device path under which
// CreateFileA opens the port `name` (without mode string). Returns FALSE, with
// the reason as the last error and `path` empty, when no usable path can be made
// from the name: a path that does not fit is refused, never cut.
BOOL port_device_path(LPCSTR name, LPSTR path, DWORD size);

// Whether `name` (without mode string) is the name of a device present, as
// port_device_path would make its path. Only a device path can hold a colon of
// its own (a name under /dev/serial/by-path/), so this tells such a colon from
// the one before a mode string. Windows device names hold no colon: FALSE there.
BOOL port_device_exists(LPCSTR name);
