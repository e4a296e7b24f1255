#include "tests/support/process_stats.h"

#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

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

// Fields 14 and 15 of stat, after the command name in parentheses (which may
// itself hold spaces and parentheses, hence the search from the end).
bool read_mode_times(pid_t pid, std::int64_t& user_ms, std::int64_t& system_ms) {
    std::ifstream file(proc_file(pid, "stat"));
    std::string text;
    if (!std::getline(file, text)) {
        return false;
    }
    const std::size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) {
        return false;
    }
    std::istringstream fields(text.substr(name_end + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field) {
        fields >> skipped;
    }
    std::int64_t user_ticks = 0;
    std::int64_t system_ticks = 0;
    if (!(fields >> user_ticks >> system_ticks)) {
        return false;
    }
    const long ticks_per_second = sysconf(_SC_CLK_TCK);
    user_ms = user_ticks * 1000 / ticks_per_second;
    system_ms = system_ticks * 1000 / ticks_per_second;
    return true;
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
    return read_cpu_ns(pid, stats.cpu_ns) && read_mode_times(pid, stats.user_ms, stats.system_ms) &&
           read_memory(pid, stats);
}

} // namespace h2test
