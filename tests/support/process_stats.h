// What the kernel reports about a running process: its processor time and its
// memory. Linux only (/proc).
#pragma once

#include <cstdint>
#include <sys/types.h>

namespace h2test {

struct ProcessStats {
    std::int64_t cpu_ns = 0;        // time on a processor, user and system together
    std::int64_t resident_kib = 0;  // resident memory now
    std::int64_t anonymous_kib = 0; // of that, memory backed by no file: heap, stack
    std::int64_t peak_kib = 0;      // the most resident memory so far
};

// False when the process is gone or /proc cannot be read.
bool read_process_stats(pid_t pid, ProcessStats& stats);

} // namespace h2test
