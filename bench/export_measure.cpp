// h2export_measure: what h2export costs. Prints a Markdown table:
//   - from a row appended to the log to the maser's textfile renamed in place
//     (median, 90th percentile), one row at a time;
//   - processor time per record, one row at a time (each rewrites the textfile),
//     with the textfile directory on the temporary directory's file system and
//     on a tmpfs (/dev/shm); and per record of a log read in bulk (line protocol);
//   - processor wake-ups while the logs are quiet;
//   - resident memory following two masers;
//   - --backfill of a year of 10 s records, generated into a temporary directory,
//     its output into /dev/null.
//
//   - a station: one maser, then 50 masers, each logging a row a second into
//     one folder followed by one h2export --follow-dir: processor time and
//     wake-ups per row, resident memory; with the textfiles on the temporary
//     directory's file system, then on a tmpfs (/dev/shm).
//
// Usage: h2export_measure [--records N] [--backfill-days N] [--station-seconds S]
//                         [--stations-only] [--h2export PATH]
//   --records N          rows timed one at a time (default 500)
//   --backfill-days N    days of 10 s records for the backfill (default 365)
//   --station-seconds S  how long each station runs (default 30)
//   --stations-only      measure the stations alone
//   --h2export PATH      measure another build of h2export (an older one, to compare)
#include "telemetry/mjd_time.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/process.h"
#include "tests/support/process_stats.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using h2test::mjd_text;
using h2test::random_row;

// The h2export measured: this build's, or another given with --h2export.
std::string h2export_path = H2EXPORT_PATH;

// A maser's textfile as the build measured names it: h2mon-NAME.prom, or
// NAME.prom for a build from before that name.
std::string textfile_of(const std::string& out, const std::string& maser) {
    const std::string name = out + "/h2mon-" + maser + ".prom";
    const std::string older = out + "/" + maser + ".prom";
    return std::filesystem::exists(older) ? older : name;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "h2export_measure: %s\n", what.c_str());
    std::exit(1);
}

double now_unix() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

long voluntary_switches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

// Waits for `name` to be renamed into the watched directory; false after `timeout`.
bool wait_renamed(int inotify, const std::string& name, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    alignas(inotify_event) char buffer[4096];
    while (Clock::now() < deadline) {
        pollfd pfd{inotify, POLLIN, 0};
        if (::poll(&pfd, 1, h2test::remaining_ms(deadline)) <= 0) {
            return false;
        }
        const ssize_t got = ::read(inotify, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name == event->name) {
                return true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

struct FollowResult {
    double median_ms = 0, p90_ms = 0, most_ms = 0;
    double cpu_us_per_record = 0;
    long quiet_wakeups = 0;
    double quiet_seconds = 0;
    double resident_mib = 0, peak_mib = 0;
};

// A directory for the textfiles under `parent`, removed with the object.
class OutDir {
public:
    explicit OutDir(const std::string& parent) {
        std::string pattern = parent + "/h2export-measure-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            fail(parent + ": " + std::strerror(errno));
        }
        path_ = pattern;
    }
    ~OutDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

FollowResult measure_follow(int records, const std::string& textfile_parent) {
    h2test::TempDir dir;
    const std::string log_a = dir.file("a.csv"), log_b = dir.file("b.csv");
    const OutDir out_dir(textfile_parent);
    const std::string& out = out_dir.path();
    // History in both logs, as a running station has.
    std::string history;
    for (int i = 0; i < 1000; ++i) {
        history += random_row(mjd_text(now_unix() - 10.3 * (1000 - i)), static_cast<unsigned>(i));
    }
    h2export_test::append_file(log_a, history);
    h2export_test::append_file(log_b, history);

    const int inotify = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(inotify, out.c_str(), IN_MOVED_TO);
    h2test::ChildProcess h2export;
    std::string error;
    if (!h2export.start({h2export_path, "--follow", "a=" + log_a, "--follow", "b=" + log_b,
                         "--textfile", out, "--stale-after", "3600"},
                        error)) {
        fail(error);
    }
    if (!wait_renamed(inotify, "h2mon-a.prom", 5000ms) &&
        !std::filesystem::exists(out + "/a.prom")) {
        fail("no first textfile");
    }
    std::this_thread::sleep_for(200ms);
    ::close(inotify);

    // Rows prepared beforehand, so that the timed part is the append alone.
    std::vector<std::string> rows;
    for (int i = 0; i < records; ++i) {
        rows.push_back(random_row(mjd_text(now_unix() + 0.1 * i), static_cast<unsigned>(i)));
    }
    const std::string textfile = std::filesystem::path(textfile_of(out, "a")).filename();
    const int log_fd = ::open(log_a.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const int watch = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch, out.c_str(), IN_MOVED_TO);
    h2test::ProcessStats before, after;
    h2test::read_process_stats(h2export.pid(), before);
    std::vector<double> latencies;
    for (const std::string& row : rows) {
        const auto start = Clock::now();
        if (!h2test::write_all(log_fd, row.data(), row.size())) {
            fail("append failed");
        }
        if (!wait_renamed(watch, textfile, 2000ms)) {
            fail("no textfile after a row");
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(5ms);
    }
    h2test::read_process_stats(h2export.pid(), after);
    ::close(watch);
    ::close(log_fd);

    FollowResult result;
    result.median_ms = percentile(latencies, 0.5);
    result.p90_ms = percentile(latencies, 0.9);
    result.most_ms = percentile(latencies, 1.0);
    result.cpu_us_per_record = static_cast<double>(after.cpu_ns - before.cpu_ns) / 1000.0 / records;

    result.quiet_seconds = 10;
    const long switches_before = voluntary_switches(h2export.pid());
    std::this_thread::sleep_for(std::chrono::duration<double>(result.quiet_seconds));
    result.quiet_wakeups = voluntary_switches(h2export.pid()) - switches_before;

    h2test::ProcessStats memory;
    h2test::read_process_stats(h2export.pid(), memory);
    result.resident_mib = static_cast<double>(memory.resident_kib) / 1024.0;
    result.peak_mib = static_cast<double>(memory.peak_kib) / 1024.0;
    return result;
}

struct StationResult {
    int masers = 0;
    long rows = 0;
    double seconds = 0;
    double cpu_us_per_row = 0;
    double wakeups_per_row = 0;
    double resident_mib = 0;
    double own_mib = 0; // of that, h2export's own: heap, stack, buffers
    std::string textfiles;
};

// `masers` logs in one folder followed by one h2export --follow-dir with
// textfiles, each log getting a row a second, as h2mon at /interval_ms:1000
// writes them (the rows of the masers spread evenly over the second).
StationResult measure_station(int masers, double seconds, const std::string& textfile_parent) {
    h2test::TempDir dir;
    const std::string logs = dir.file("logs");
    std::filesystem::create_directory(logs);
    const OutDir out(textfile_parent);
    std::vector<int> fds;
    for (int m = 0; m < masers; ++m) {
        const std::string log = logs + "/m" + std::to_string(m) + ".csv";
        std::string history;
        for (int i = 0; i < 100; ++i) {
            history += random_row(mjd_text(now_unix() - (100 - i)), static_cast<unsigned>(i));
        }
        h2export_test::append_file(log, history);
        fds.push_back(::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    }
    h2test::ChildProcess h2export;
    std::string error;
    if (!h2export.start({h2export_path, "--follow-dir", logs, "--textfile", out.path()}, error)) {
        fail(error);
    }
    const bool ready = h2export_test::eventually(
        [&] {
            for (int m = 0; m < masers; ++m) {
                if (!std::filesystem::exists(textfile_of(out.path(), "m" + std::to_string(m)))) {
                    return false;
                }
            }
            return true;
        },
        10s);
    if (!ready) {
        fail("no textfiles for the masers");
    }
    std::this_thread::sleep_for(500ms);

    h2test::ProcessStats before, after;
    h2test::read_process_stats(h2export.pid(), before);
    const long switches_before = voluntary_switches(h2export.pid());
    const auto step =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / masers));
    const auto start = Clock::now();
    StationResult result;
    result.masers = masers;
    for (auto next = start; Clock::now() - start < std::chrono::duration<double>(seconds);
         next += step) {
        std::this_thread::sleep_until(next);
        const int m = static_cast<int>(result.rows % masers);
        const std::string row =
            random_row(mjd_text(now_unix()), static_cast<unsigned>(result.rows));
        if (!h2test::write_all(fds[static_cast<std::size_t>(m)], row.data(), row.size())) {
            fail("append failed");
        }
        ++result.rows;
    }
    // The last row read before the figures are taken.
    std::this_thread::sleep_for(200ms);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    h2test::read_process_stats(h2export.pid(), after);
    result.cpu_us_per_row = static_cast<double>(after.cpu_ns - before.cpu_ns) / 1000.0 /
                            static_cast<double>(result.rows);
    result.wakeups_per_row =
        static_cast<double>(voluntary_switches(h2export.pid()) - switches_before) /
        static_cast<double>(result.rows);
    result.resident_mib = static_cast<double>(after.resident_kib) / 1024.0;
    result.own_mib = static_cast<double>(after.anonymous_kib) / 1024.0;
    result.textfiles = textfile_parent;
    for (int fd : fds) {
        ::close(fd);
    }
    return result;
}

// Processor time per record while h2export reads a long log in bulk and
// writes its line protocol to a file.
double measure_catch_up(int rows) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    std::string text;
    for (int i = 0; i < rows; ++i) {
        text += random_row(mjd_text(1.7e9 + 10.0 * i), static_cast<unsigned>(i % 997));
    }
    h2export_test::append_file(log, text);
    const std::string state = dir.file("points.state");
    h2test::ChildProcess h2export;
    std::string error;
    if (!h2export.start({h2export_path, "--follow", "a=" + log, "--influx", dir.file("points.lp"),
                         "--state", state},
                        error)) {
        fail(error);
    }
    // The saved position ("position a DEVICE FILE OFFSET PRINT_BYTES PRINT INSIDE") at the log's
    // end.
    const std::string end = " " + std::to_string(text.size()) + " ";
    const bool done = h2export_test::eventually(
        [&] { return h2test::read_text_file(state).find(end) != std::string::npos; }, 120s);
    if (!done) {
        fail("the log was not read to its end");
    }
    h2test::ProcessStats stats;
    h2test::read_process_stats(h2export.pid(), stats);
    return static_cast<double>(stats.cpu_ns) / 1000.0 / rows;
}

struct BackfillResult {
    long rows = 0;
    double log_gib = 0;
    double output_gib = 0;
    double seconds = 0;
    double cpu_seconds = 0;
};

// Writes `days` of 10 s rows, drawn from a set of h2mon rows with the MJD of
// each record put in front.
long write_year_log(const std::string& path, int days) {
    std::vector<std::string> tails;
    for (unsigned seed = 0; seed < 997; ++seed) {
        const std::string row = random_row("0", seed);
        tails.push_back(row.substr(1));
    }
    std::FILE* log = std::fopen(path.c_str(), "wb");
    if (log == nullptr) {
        fail(path + ": " + std::strerror(errno));
    }
    const long rows = static_cast<long>(days) * 8640;
    const double start = 1.7e9;
    char mjd[32];
    for (long i = 0; i < rows; ++i) {
        std::snprintf(mjd, sizeof mjd, "%.6f", mjd_of_unix_seconds(start + 10.0 * i));
        std::fputs(mjd, log);
        const std::string& tail = tails[static_cast<std::size_t>(i) % tails.size()];
        std::fwrite(tail.data(), 1, tail.size(), log);
    }
    std::fclose(log);
    return rows;
}

// Runs `command` through the shell; its processor time (and its children's)
// and the wall time go to `cpu_seconds` and `seconds`, its first line of
// output is returned.
std::string timed_shell(const std::string& command, double& seconds, double& cpu_seconds) {
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = Clock::now();
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char line[256] = "";
    if (pipe == nullptr || std::fgets(line, sizeof line, pipe) == nullptr) {
        line[0] = '\0';
    }
    if (pipe == nullptr || ::pclose(pipe) != 0) {
        fail("failed: " + command);
    }
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    getrusage(RUSAGE_CHILDREN, &after);
    const auto total = [](const rusage& usage) {
        return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec / 1e6;
    };
    cpu_seconds = total(after) - total(before);
    return line;
}

BackfillResult measure_backfill(int days) {
    h2test::TempDir dir;
    const std::string log = dir.file("year.csv");
    BackfillResult result;
    result.rows = write_year_log(log, days);
    result.log_gib =
        static_cast<double>(std::ifstream(log, std::ios::ate | std::ios::binary).tellg()) /
        (1 << 30);
    const std::string backfill =
        std::string("'") + h2export_path + "' --follow y='" + log + "' --backfill";
    // Read once before timing, so that the figure does not depend on how much
    // of the log the page cache still holds after writing it.
    double seconds, cpu;
    const std::string bytes = timed_shell(backfill + " | wc -c", seconds, cpu);
    result.output_gib = std::stod(bytes) / (1 << 30);
    // Into /dev/null: h2export's own cost, not a disk's.
    timed_shell(backfill + " >/dev/null && echo ok", result.seconds, result.cpu_seconds);
    return result;
}

} // namespace

void print_station(const StationResult& station) {
    std::printf("| %d maser%s, a row a second each, %.0f s (%ld rows), textfiles on %s: CPU time "
                "per row / wake-ups per row / resident memory (h2export's own) | %.0f µs / %.2f / "
                "%.2f MiB (%.2f MiB) | - |\n",
                station.masers, station.masers == 1 ? "" : "s", station.seconds, station.rows,
                station.textfiles.c_str(), station.cpu_us_per_row, station.wakeups_per_row,
                station.resident_mib, station.own_mib);
}

int main(int argc, char** argv) {
    int records = 500;
    int days = 365;
    double station_seconds = 30;
    bool station_only = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stations-only") == 0) {
            station_only = true;
        } else if (i + 1 >= argc) {
            break;
        } else if (std::strcmp(argv[i], "--records") == 0) {
            records = std::max(10, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--backfill-days") == 0) {
            days = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--station-seconds") == 0) {
            station_seconds = std::max(5.0, std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--h2export") == 0) {
            h2export_path = argv[++i];
        }
    }
    std::vector<StationResult> stations;
    for (const std::string& textfiles :
         {std::string(std::filesystem::temp_directory_path()), std::string("/dev/shm")}) {
        if (std::filesystem::is_directory(textfiles)) {
            stations.push_back(measure_station(1, station_seconds, textfiles));
            stations.push_back(measure_station(50, station_seconds, textfiles));
        }
    }
    if (station_only) {
        std::printf("| measure | value | target |\n|---|---|---|\n");
        for (const StationResult& station : stations) {
            print_station(station);
        }
        return 0;
    }
    const FollowResult follow = measure_follow(records, std::filesystem::temp_directory_path());
    const bool have_tmpfs = std::filesystem::is_directory("/dev/shm");
    const FollowResult tmpfs = have_tmpfs ? measure_follow(records, "/dev/shm") : FollowResult{};
    const double catch_up_us = measure_catch_up(100000);
    const BackfillResult backfill = measure_backfill(days);
    std::printf("| measure | value | target |\n|---|---|---|\n");
    std::printf("| row appended to textfile renamed, median (%d rows) | %.2f ms | < 20 ms |\n",
                records, follow.median_ms);
    std::printf("|   90th percentile / most | %.2f ms / %.2f ms | - |\n", follow.p90_ms,
                follow.most_ms);
    std::printf("| CPU time per record, one at a time (user + system), textfile on %s | %.1f µs | "
                "< 30 µs |\n",
                std::filesystem::temp_directory_path().c_str(), follow.cpu_us_per_record);
    if (have_tmpfs) {
        std::printf(
            "|   the same, textfile on tmpfs (/dev/shm): per record / latency median | %.1f µs "
            "/ %.2f ms | - |\n",
            tmpfs.cpu_us_per_record, tmpfs.median_ms);
    }
    std::printf("| CPU time per record, a log of 100 000 rows read in bulk to line protocol | "
                "%.2f µs | - |\n",
                catch_up_us);
    std::printf("| wake-ups in %.0f s of quiet logs | %ld | 0 |\n", follow.quiet_seconds,
                follow.quiet_wakeups);
    std::printf("| resident memory, two masers: now / peak | %.2f MiB / %.2f MiB | < 4 MiB |\n",
                follow.resident_mib, follow.peak_mib);
    std::printf(
        "| --backfill, %ld rows (%.2f GiB of log, %.2f GiB of OpenMetrics): wall | %.1f s | "
        "< 10 s |\n",
        backfill.rows, backfill.log_gib, backfill.output_gib, backfill.seconds);
    std::printf("|   processor time (user + system) | %.1f s | - |\n", backfill.cpu_seconds);
    for (const StationResult& station : stations) {
        print_station(station);
    }
    return 0;
}
