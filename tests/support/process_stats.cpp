#include "tests/support/process_stats.h"

#include <fstream>
#include <string>

namespace h2test {

namespace {

std::string proc_file(pid_t pid, const char* name) {
    return "/proc/" + std::to_string(pid) + "/" + name;
}

// The first field of schedstat: nanoseconds spent running, to the nanosecond,
// where the tick counts of stat are only as fine as the kernel's tick.
bool read_cpu_ns(pid_t pid, std::int64_t& ns) {
    std::ifstream file(proc_file(pid, "schedstat"));
    return static_cast<bool>(file >> ns);
}

bool read_memory(pid_t pid, ProcessStats& stats) {
    std::ifstream file(proc_file(pid, "status"));
    const struct {
        const char* key;
        std::int64_t* value;
    } fields[] = {{"VmRSS:", &stats.resident_kib},
                  {"RssAnon:", &stats.anonymous_kib},
                  {"VmHWM:", &stats.peak_kib}};
    std::string key;
    int found = 0;
    while (file >> key) {
        for (const auto& field : fields) {
            if (key == field.key && file >> *field.value) {
                ++found;
            }
        }
    }
    return found == 3;
}

} // namespace

bool read_process_stats(pid_t pid, ProcessStats& stats) {
    return read_cpu_ns(pid, stats.cpu_ns) && read_memory(pid, stats);
}

} // namespace h2test
