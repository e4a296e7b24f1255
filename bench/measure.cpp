// h2mon_measure: what the whole program costs, run against the maser simulator.
// Prints a Markdown table:
//   - records per second and processor time per record, polling back to back;
//   - the time from a poll's arrival at the maser to its record leaving h2mon,
//     on a line paced at 9600 baud, against the wire time of the exchange, and
//     the part of it after the answer's last byte went out: on the simulator's
//     pseudo-terminal, and behind a simulated USB adapter with a 16 ms latency
//     timer (h2sim --hold-back 16, the timer shown to h2mon in sysfs);
//   - processor use while the maser stays silent;
//   - peak resident memory.
//
//   - processor time per record with standard output on a terminal, where
//     the records go through the console writer's thread, against a pipe;
//
// Usage: h2mon_measure [--seconds N] [--records N] [--h2mon PATH]
//   --seconds N   length of the back-to-back and the silent runs (default 30)
//   --records N   records timed on each paced line (default 200)
//   --h2mon PATH  measure this h2mon (another build) instead of this tree's
#include "tests/support/latency_timer.h"
#include "tests/support/process.h"
#include "tests/support/process_stats.h"
#include "tests/support/pseudo_terminal.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using h2test::ChildProcess;
using h2test::ProcessStats;

constexpr auto kPrompt = 5000ms;
constexpr int kPacedBaud = 9600;
// 5 poll bytes out and 189 answer bytes in, 10 bits each.
constexpr double kWireMs = (5 + 189) * 10 * 1000.0 / kPacedBaud;

// The h2mon measured.
std::string h2mon_path = H2MON_PATH;

// The programs of the measurement under way, ended by fail(): exit() runs no
// destructor of a local object.
std::vector<ChildProcess*> running_programs;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "h2mon_measure: %s\n", what.c_str());
    for (ChildProcess* program : running_programs) {
        program->signal(SIGKILL);
    }
    std::exit(1);
}

// Where h2mon's standard output goes.
enum class Output { Pipe, Terminal };

// h2sim and h2mon polling it; both are stopped when this goes.
class Rig {
public:
    // With `latency_timer_ms` 0 or more, h2mon sees the simulator's line as a USB
    // adapter with that latency timer.
    Rig(const std::vector<std::string>& sim_args, std::vector<std::string> mon_args,
        Output output = Output::Pipe, int latency_timer_ms = -1) {
        running_programs = {&sim_, &mon_};
        std::string error;
        std::vector<std::string> sim{H2SIM_PATH};
        sim.insert(sim.end(), sim_args.begin(), sim_args.end());
        std::string port;
        if (!sim_.start(sim, error) || !sim_.read_stdout_line(port, kPrompt)) {
            fail("h2sim did not start: " + error);
        }
        mon_args.insert(mon_args.begin(), {h2mon_path, "/port:" + port});
        if (latency_timer_ms >= 0) {
            const std::vector<std::string> runner =
                h2test::with_latency_timer(port, latency_timer_ms);
            if (runner.empty() || !h2test::latency_timer_possible()) {
                fail("cannot show h2mon a latency timer here (no user and mount namespace)");
            }
            mon_args.insert(mon_args.begin(), runner.begin(), runner.end());
        }
        h2test::ChildSetup setup;
        if (output == Output::Terminal) {
            // A raw terminal, so that the line discipline costs about what a pipe does.
            terminal_ = std::make_unique<PseudoTerminal>();
            termios raw = terminal_->settings();
            cfmakeraw(&raw);
            terminal_->change_settings(raw);
            mon_args.insert(mon_args.begin(),
                            {"/bin/sh", "-c", "exec 1>\"$H2_TERMINAL\"; exec \"$@\"", "sh"});
            setup.extra_env.push_back("H2_TERMINAL=" + terminal_->path());
        }
        if (!mon_.start(mon_args, setup, error)) {
            fail("h2mon did not start: " + error);
        }
    }
    ~Rig() {
        int status = 0;
        for (ChildProcess* child : {&mon_, &sim_}) {
            child->signal(SIGTERM);
            child->wait_exit(status, kPrompt);
        }
        running_programs.clear();
    }

    ChildProcess& mon() { return mon_; }

    ProcessStats mon_stats() {
        ProcessStats stats;
        if (!h2test::read_process_stats(mon_.pid(), stats)) {
            fail("cannot read h2mon's figures from /proc");
        }
        return stats;
    }

    // The next record; its arrival time in `when`.
    std::string next_record(Clock::time_point* when = nullptr) {
        std::string line;
        if (!(terminal_ != nullptr ? terminal_line(line) : mon_.read_stdout_line(line, kPrompt))) {
            fail("h2mon printed no record in time");
        }
        if (when != nullptr) {
            *when = Clock::now();
        }
        return line;
    }

private:
    bool terminal_line(std::string& line) {
        const Clock::time_point deadline = Clock::now() + kPrompt;
        std::size_t end;
        while ((end = terminal_text_.find('\n')) == std::string::npos) {
            pollfd entry{terminal_->master_fd(), POLLIN, 0};
            if (Clock::now() > deadline || ::poll(&entry, 1, 100) < 0) {
                return false;
            }
            terminal_text_ += terminal_->take_output();
        }
        line = terminal_text_.substr(0, end);
        terminal_text_.erase(0, end + 1);
        return true;
    }

    ChildProcess sim_;
    ChildProcess mon_;
    std::unique_ptr<PseudoTerminal> terminal_;
    std::string terminal_text_;
};

struct Row {
    std::string what;
    std::string value;
    std::string target;
};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const std::size_t index = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[index];
}

struct BackToBack {
    double records_per_second;
    double cpu_us_per_record;
};

// Back to back against an unpaced line, over a window after the first records.
BackToBack run_back_to_back(int seconds, Output output, std::int64_t& peak_kib) {
    Rig rig({}, {"/interval_ms:0"}, output);
    rig.next_record(); // the CSV header
    for (int i = 0; i < 20; ++i) {
        rig.next_record();
    }
    const ProcessStats before = rig.mon_stats();
    const Clock::time_point start = Clock::now();
    long records = 0;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        rig.next_record();
        ++records;
    }
    const ProcessStats after = rig.mon_stats();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    peak_kib = std::max(peak_kib, after.peak_kib);
    return {records / elapsed, (after.cpu_ns - before.cpu_ns) / 1000.0 / records};
}

// Records per second and CPU per record on a pipe; then the CPU per record on a
// terminal (the console writer) against a pipe, runs taken in turn so that
// both see the same load, as the median of each.
std::vector<Row> measure_back_to_back(int seconds, std::int64_t& peak_kib) {
    const BackToBack piped = run_back_to_back(seconds, Output::Pipe, peak_kib);
    constexpr int kTurns = 3;
    std::vector<double> pipe_us{piped.cpu_us_per_record};
    std::vector<double> terminal_us;
    for (int turn = 0; turn < kTurns; ++turn) {
        const int part = std::max(1, seconds / kTurns);
        terminal_us.push_back(run_back_to_back(part, Output::Terminal, peak_kib).cpu_us_per_record);
        if (turn + 1 < kTurns) {
            pipe_us.push_back(run_back_to_back(part, Output::Pipe, peak_kib).cpu_us_per_record);
        }
    }
    const auto spread = [](const std::vector<double>& values) {
        return format("%.1f µs", percentile(values, 0.5)) + " (" +
               format("%.1f", *std::min_element(values.begin(), values.end())) + " to " +
               format("%.1f", *std::max_element(values.begin(), values.end())) + ")";
    };
    return {
        {"records per second, /interval_ms:0", format("%.1f", piped.records_per_second), "-"},
        {"CPU time per record (user + system)", format("%.1f µs", piped.cpu_us_per_record),
         "< 100 µs"},
        {"  standard output a pipe: median (range) of " + std::to_string(pipe_us.size()) + " runs",
         spread(pipe_us), "-"},
        {"  standard output a terminal, through the console writer", spread(terminal_us),
         "as on a pipe"},
    };
}

struct Exchange {
    std::int64_t poll_ns;
    std::int64_t last_sent_ns;
};

// The simulator's timed log, by the frame each exchange carried.
std::map<std::string, Exchange> read_timed_log(const std::string& path) {
    std::map<std::string, Exchange> exchanges;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string poll, actions, sent, clean, frame;
        std::int64_t arrived = 0, first = 0, last = 0;
        if (fields >> poll >> actions >> sent >> clean >> frame >> arrived >> first >> last &&
            sent == "189") {
            exchanges[frame] = {arrived, last};
        }
    }
    return exchanges;
}

std::int64_t steady_ns(Clock::time_point when) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
}

struct Latency {
    std::vector<double> overhead_ms;   // poll to record, less the wire time
    std::vector<double> after_last_ms; // the answer's last byte to the record
};

// Paced at 9600 baud: from the poll's arrival to the record, less the wire time,
// and from the answer's last byte to the record (as the simulator sent it, after
// any hold-back of its simulated adapter). The records are hexadecimal dumps,
// found in the simulator's log by their bytes.
Latency run_latency(int records, int adapter_latency_ms, std::int64_t& peak_kib) {
    h2test::TempDir dir;
    const std::string log = dir.file("exchanges.log");
    std::vector<std::string> sim_args{"--baud", std::to_string(kPacedBaud), "--log", log,
                                      "--log-times"};
    if (adapter_latency_ms >= 0) {
        sim_args.insert(sim_args.end(), {"--hold-back", std::to_string(adapter_latency_ms)});
    }
    std::vector<std::pair<std::string, Clock::time_point>> printed;
    {
        Rig rig(sim_args, {"/interval_ms:0", "/fmt:HEX"}, Output::Pipe, adapter_latency_ms);
        for (int i = 0; i < records; ++i) {
            Clock::time_point when;
            std::string record = rig.next_record(&when);
            printed.emplace_back(std::move(record), when);
        }
        peak_kib = std::max(peak_kib, rig.mon_stats().peak_kib);
    }
    const std::map<std::string, Exchange> exchanges = read_timed_log(log);
    Latency latency;
    for (const auto& [frame, when] : printed) {
        const auto found = exchanges.find(frame);
        if (found == exchanges.end()) {
            fail("a record matches no frame in the simulator's log");
        }
        const double since_poll = (steady_ns(when) - found->second.poll_ns) / 1e6;
        latency.overhead_ms.push_back(since_poll - kWireMs);
        latency.after_last_ms.push_back((steady_ns(when) - found->second.last_sent_ns) / 1e6);
    }
    return latency;
}

std::string median_and_p95(const std::vector<double>& ms) {
    return format("%.1f ms", percentile(ms, 0.5)) + " (" + format("%.1f", percentile(ms, 0.95)) +
           ")";
}

// On the simulator's pseudo-terminal, then behind a simulated 16 ms adapter, in
// one run so that both see the same machine.
std::vector<Row> measure_latency(int records, std::int64_t& peak_kib) {
    constexpr int kAdapterLatencyMs = 16;
    const Latency direct = run_latency(records, -1, peak_kib);
    const Latency adapter = run_latency(records, kAdapterLatencyMs, peak_kib);
    const std::string wire = format("%.1f ms", kWireMs);
    return {
        {"poll to record at 9600 baud, wire time " + wire + ": overhead, median",
         format("%.1f ms", percentile(direct.overhead_ms, 0.5)), "< 15 ms"},
        {"  overhead, 90th percentile / most",
         format("%.1f ms", percentile(direct.overhead_ms, 0.9)) + " / " +
             format("%.1f ms", percentile(direct.overhead_ms, 1.0)),
         "-"},
        {"  answer's last byte to record, median (95th percentile)",
         median_and_p95(direct.after_last_ms), "< 8 ms"},
        {"  the same behind a simulated adapter with a 16 ms latency timer",
         median_and_p95(adapter.after_last_ms), "< 24 ms"},
    };
}

// The maser answers nothing: h2mon waits in its reads and drains.
std::vector<Row> measure_silent(int seconds, std::int64_t& peak_kib) {
    Rig rig({"--silent"}, {});
    std::this_thread::sleep_for(2s); // past the start-up: h2mon is polling

    const ProcessStats before = rig.mon_stats();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const ProcessStats after = rig.mon_stats();
    const double elapsed_ns =
        std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    peak_kib = std::max(peak_kib, after.peak_kib);
    return {{"CPU use while the maser is silent",
             format("%.3f %% of one core", 100.0 * (after.cpu_ns - before.cpu_ns) / elapsed_ns),
             "< 0.5 %"}};
}

std::string processor_model() {
    std::ifstream file("/proc/cpuinfo");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("model name", 0) == 0) {
            return line.substr(line.find(':') + 2);
        }
    }
    return "unknown";
}

int option(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::atoi(argv[i + 1]);
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = option(argc, argv, "--seconds", 30);
    const int records = option(argc, argv, "--records", 200);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--h2mon") == 0) {
            h2mon_path = argv[i + 1];
        }
    }
    std::int64_t peak_kib = 0;
    std::vector<Row> rows = measure_back_to_back(seconds, peak_kib);
    const std::vector<Row> latency = measure_latency(records, peak_kib);
    rows.insert(rows.end(), latency.begin(), latency.end());
    const std::vector<Row> silent = measure_silent(seconds, peak_kib);
    rows.insert(rows.end(), silent.begin(), silent.end());
    rows.push_back({"peak resident memory", format("%.2f MiB", peak_kib / 1024.0), "< 4 MiB"});

    std::printf("Machine: %s, %ld cores\n\n", processor_model().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("| measure | value | target |\n|---|---|---|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %s | %s |\n", row.what.c_str(), row.value.c_str(), row.target.c_str());
    }
    return 0;
}
