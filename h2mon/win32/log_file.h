// The log file: a text file opened for appending, shared with other readers and
// writers (an operator may follow it, or another program may append to it).
#pragma once

#include <cstdio>

// Opens `path` for appending in text mode; null when it cannot be opened.
std::FILE* open_shared_log(const char* path);
