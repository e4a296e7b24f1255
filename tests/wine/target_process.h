// The process a Windows test helper acts on, and its console.
#pragma once

#include <windows.h>

// The process named by `text`: a process id, or the file name of a running
// program ("h2mon.exe"), which must match exactly one process. 0 when none or
// several match (the reason on standard error).
DWORD target_process(const char* text);

// Leaves this process's console and attaches to the one of process `id`. False
// (the reason on standard error) when that process has none.
bool attach_to_console_of(DWORD id);
