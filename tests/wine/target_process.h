// The process a Windows test helper acts on, and its console.
#pragma once

#include <windows.h>

// The process named by `text`: a process id, or the file name of a running
// program ("h2mon.exe"), which must match exactly one process. 0 when none or
// several match (the reason on standard error).
DWORD target_process(const char* text);

// The id of the only running process whose image file is `name`, as soon as
// there is one, waiting at most `timeout_ms`; 0 when none came.
DWORD wait_for_process(const char* name, DWORD timeout_ms);

// Leaves this process's console and attaches to the one of process `id`. False
// (the reason on standard error) when that process has none.
bool attach_to_console_of(DWORD id);
