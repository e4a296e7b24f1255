// The device path that opens a serial port given by name.
#pragma once

#include "platform/win32.h"

// Writes into `path` (of `size` characters) the device path under which
// CreateFileA opens the port `name`. The name may still carry a mode string after
// a colon; it is carried into the path unchanged, for the caller to split off.
// Returns FALSE, with the reason as the last error and `path` empty, when no
// usable path can be made from the name.
BOOL port_device_path(LPCSTR name, LPSTR path, DWORD size);
