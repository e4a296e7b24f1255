// The device path that opens a serial port given by name.
#pragma once

#include "h2mon/win32/win32.h"

// Writes into `path` (of `size` characters) the device path under which
// CreateFileA opens the port `name` (without mode string). Returns FALSE, with
// the reason as the last error and `path` empty, when no usable path can be made
// from the name: a path that does not fit is refused, never cut.
BOOL port_device_path(LPCSTR name, LPSTR path, DWORD size);
