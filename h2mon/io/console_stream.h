// Standard output and standard error as consoles: whether one is, and writing
// to one past the C runtime's stream, so that a thread blocked on a console
// that holds its output holds no lock of the runtime's (the runtime takes a
// stream's lock to flush it at exit).
#pragma once

#include <cstddef>
#include <cstdio>

// Whether `stream` (stdout or stderr) is a console: a Windows console, or a
// terminal on Linux.
bool stream_is_console(std::FILE* stream);

// Writes `size` bytes of text straight to the system's handle of `stream`,
// unbuffered, as the stream's text mode would (on Windows each "\n" becomes
// "\r\n"). Waits for as long as the console holds its output. False when the
// write fails.
bool write_to_console(std::FILE* stream, const char* text, std::size_t size);
