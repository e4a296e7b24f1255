// h2plot_measure: what h2plot costs on a year of records, against the time it
// takes only to read the file and against gnuplot drawing the same columns.
// It writes the log (a year of 10 s records, about 1.4 GB) into a temporary
// folder, then times, with the file in the page cache:
//   - cat FILE > /dev/null, and a loop of 1 MiB reads, as the floor;
//   - h2plot drawing four channels to an SVG: wall time, peak resident memory
//     and the size of the picture;
//   - h2plot making the HTML page of the four channels, with the maser's
//     state at the range's end from the analysis of the 8 days before it:
//     the end given (--to, as the package's timer gives it with --last), and
//     found from the log, which is then read again for those days;
//   - h2plot drawing every plottable channel, 1200 and 20000 pixels wide;
//   - gnuplot (if installed) drawing the same four columns as four panels.
// Prints a Markdown table.
//
// Usage: h2plot_measure [--days N] [--runs N] [--no-gnuplot] [--keep DIR] [--against PATH]
//   --days N        length of the log (default 365)
//   --runs N        runs of each timing, the median reported (default 3)
//   --no-gnuplot    leave gnuplot out (it takes minutes)
//   --keep DIR      write the log and pictures to DIR and keep them
//   --against PATH  also time another build of h2plot on the four channels,
//                   each run beside this build's (after it, then before it),
//                   so that a change is measured under the same load on a
//                   busy machine
#include "telemetry/log_row.h"
#include "tests/support/log_rows.h"
#include "tests/support/process.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The four channels drawn, with their columns in the CSV (the MJD is column 1).
constexpr const char* kPlottedChannels = "Ion_uA,H2_atm,CSide_V,IF_V";
constexpr int kColumns[] = {20, 30, 27, 17};
constexpr long long kRecordsPerDay = 8640; // every 10 s
constexpr long long kStart = 61000000000;

struct Timed {
    double seconds = 0;
    double cpu_seconds = 0; // user and system
    double peak_mib = 0;
    int status = -1;
};

// Runs argv with standard output to `out_path`; its wall time and peak memory.
Timed run_timed(const std::vector<std::string>& argv, const char* out_path) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    Timed timed;
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timed.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024;
    const auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    timed.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    timed.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return timed;
}

// The least and the greatest of a[i] / b[i].
std::pair<double, double> ratio_range(const std::vector<double>& a, const std::vector<double>& b) {
    std::pair<double, double> range{a[0] / b[0], a[0] / b[0]};
    for (std::size_t i = 1; i < a.size(); ++i) {
        range = {std::min(range.first, a[i] / b[i]), std::max(range.second, a[i] / b[i])};
    }
    return range;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A text of exactly `width` characters for `value` with three decimals.
void put_fixed(char* at, int width, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%*.*f", width, 3, value);
    std::memcpy(at, text, static_cast<std::size_t>(width));
}

// A year of rows: a healthy maser's values, the four plotted channels varying,
// written by patching fixed-width fields of one template row.
bool write_log(const std::string& path, int days) {
    // Values wide enough that every patched field keeps its width.
    const std::string row = h2test::log_row(kStart, {{"Batt_V", "27.069"},
                                                     {"Ext_V", "27.617"},
                                                     {"p27_V1", "26.922"},
                                                     {"p15_V", "15.052"},
                                                     {"n15_V", "-14.937"},
                                                     {"p5_V", "5.040"},
                                                     {"p3p3_V", "3.317"},
                                                     {"p27_V2", "27.192"},
                                                     {"f5M1_V", "1.030"},
                                                     {"Ion_uA", "11.221"},
                                                     {"H2_atm", "-0.652"},
                                                     {"CSide_V", "10.532"},
                                                     {"IF_V", "0.742"},
                                                     {"HFO_V", "12.011"},
                                                     {"CCoarse", "0800"},
                                                     {"RsvdDT1", std::string(120, 'A')}});
    std::vector<std::size_t> starts = {0};
    for (std::size_t at = row.find(','); at != std::string::npos; at = row.find(',', at + 1)) {
        starts.push_back(at + 1);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::string block;
    std::string line = row + "\n";
    const long long records = days * kRecordsPerDay;
    for (long long i = 0; i < records; ++i) {
        // Stamped to the microday, as h2mon does.
        const long long t = kStart + (i * 1000000 + kRecordsPerDay / 2) / kRecordsPerDay;
        const std::string mjd =
            csv_mjd(static_cast<double>(t) / 1e6); // as wide as the template's until MJD 99999
        std::memcpy(&line[0], mjd.data(), mjd.size());
        const double phase = static_cast<double>(i) / kRecordsPerDay;
        put_fixed(&line[starts[19]], 6, 11 + std::sin(phase) + (i == records / 2 ? 80 : 0));
        put_fixed(&line[starts[29]], 6, -0.65 + 0.01 * std::cos(phase / 7));
        put_fixed(&line[starts[26]], 6, 10.5 + 0.05 * std::sin(phase * 3));
        put_fixed(&line[starts[16]], 5, 0.74 + 0.002 * static_cast<double>(i % 5));
        block += line;
        if (block.size() > (4u << 20)) {
            std::fwrite(block.data(), 1, block.size(), file);
            block.clear();
        }
    }
    std::fwrite(block.data(), 1, block.size(), file);
    return std::fclose(file) == 0;
}

double read_loop_seconds(const std::string& path) {
    const auto start = Clock::now();
    const int fd = open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(1 << 20);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string gnuplot_script(const std::string& log, const std::string& svg) {
    std::string script = "set terminal svg size 1200,800; set output '" + svg +
                         "'; set datafile separator ','; set multiplot layout 4,1; ";
    for (int column : kColumns) {
        script += "plot '" + log + "' using 1:" + std::to_string(column) + " with lines notitle; ";
    }
    return script + "unset multiplot";
}

long long file_size(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

} // namespace

int main(int argc, char** argv) {
    int days = 365;
    int runs = 3;
    bool gnuplot = true;
    std::string keep;
    std::string against;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--days" && i + 1 < argc) {
            days = std::atoi(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--no-gnuplot") {
            gnuplot = false;
        } else if (arg == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else if (arg == "--against" && i + 1 < argc) {
            against = argv[++i];
        } else {
            std::fprintf(stderr, "usage: h2plot_measure [--days N] [--runs N] [--no-gnuplot] "
                                 "[--keep DIR] [--against PATH]\n");
            return 2;
        }
    }
    h2test::TempDir temp;
    const std::string dir = keep.empty() ? temp.path() : keep;
    std::printf("load average before: %s\n", h2test::read_text_file("/proc/loadavg").c_str());
    const std::string log = dir + "/year.csv";
    std::fprintf(stderr, "writing %d days of records to %s\n", days, log.c_str());
    if (!write_log(log, days)) {
        std::fprintf(stderr, "cannot write %s\n", log.c_str());
        return 1;
    }
    run_timed({"cat", log}, "/dev/null"); // into the page cache

    std::vector<double> cat, loop, plot, plot_cpu, peak, other, other_cpu;
    const std::string svg = dir + "/h2plot.svg";
    // The other build's run, before this build's in every second run.
    const auto run_against = [&] {
        const Timed then =
            run_timed({against, "--channels", kPlottedChannels, "-o", dir + "/against.svg", log},
                      "/dev/null");
        other.push_back(then.seconds);
        other_cpu.push_back(then.cpu_seconds);
    };
    for (int i = 0; i < runs; ++i) {
        cat.push_back(run_timed({"cat", log}, "/dev/null").seconds);
        loop.push_back(read_loop_seconds(log));
        if (!against.empty() && i % 2 == 1) {
            run_against();
        }
        const Timed timed =
            run_timed({H2PLOT_PATH, "--channels", kPlottedChannels, "-o", svg, log}, "/dev/null");
        if (timed.status != 0) {
            std::fprintf(stderr, "h2plot failed\n");
            return 1;
        }
        plot.push_back(timed.seconds);
        plot_cpu.push_back(timed.cpu_seconds);
        peak.push_back(timed.peak_mib);
        if (!against.empty() && i % 2 == 0) {
            run_against();
        }
    }
    const double gb = static_cast<double>(file_size(log)) / 1e9;
    std::printf("| measure | value | target |\n|---|---|---|\n");
    std::printf("| log: %d days of 10 s records | %lld rows, %.2f GB | - |\n", days,
                days * kRecordsPerDay, gb);
    std::printf("| `cat` to /dev/null | %.3f s (%.1f GB/s) | - |\n", median(cat), gb / median(cat));
    std::printf("| read loop, 1 MiB blocks | %.3f s | - |\n", median(loop));
    std::printf("| h2plot, four channels to SVG | %.3f s (%.1f x the read) | < 4 x the read |\n",
                median(plot), median(plot) / median(cat));
    std::printf("| h2plot processor time, user + system | %.3f s | - |\n", median(plot_cpu));
    std::printf("| h2plot peak resident memory | %.1f MiB | < 32 MiB |\n", median(peak));
    std::printf("| SVG size | %.0f KB | < 1000 KB |\n", static_cast<double>(file_size(svg)) / 1000);
    if (!other.empty()) {
        const auto [least, most] = ratio_range(plot, other);
        std::printf("| %s, four channels to SVG, run by run beside this build | %.3f s (processor "
                    "%.3f s), this build %.0f %% of it (from %.0f to %.0f %% run by run) | - |\n",
                    against.c_str(), median(other), median(other_cpu),
                    100 * median(plot) / median(other), 100 * least, 100 * most);
    }
    // The page's analysis of the last 8 days; the end given, or found and
    // the log read again for them.
    const std::string end = std::to_string(kStart / 1000000 + days);
    for (const bool given : {true, false}) {
        std::vector<double> page, page_cpu;
        for (int i = 0; i < runs; ++i) {
            std::vector<std::string> args = {H2PLOT_PATH, "--channels",         kPlottedChannels,
                                             "-o",        dir + "/h2plot.html", log};
            if (given) {
                args.insert(args.end(), {"--to", end});
            }
            const Timed timed = run_timed(args, "/dev/null");
            if (timed.status != 0) {
                std::fprintf(stderr, "h2plot failed\n");
                return 1;
            }
            page.push_back(timed.seconds);
            page_cpu.push_back(timed.cpu_seconds);
        }
        std::printf("| h2plot, four channels to the HTML page, %s | %.3f s (processor %.3f s), "
                    "%.0f %% of the SVG's | - |\n",
                    given ? "the end given (--to)" : "the end found and its 8 days read again",
                    median(page), median(page_cpu), 100 * median(page) / median(plot));
    }
    for (const char* width : {"1200", "20000"}) {
        std::vector<double> all, all_peak;
        for (int i = 0; i < runs; ++i) {
            const Timed timed = run_timed(
                {H2PLOT_PATH, "--channels", "all", "--width", width, "-o", svg, log}, "/dev/null");
            if (timed.status != 0) {
                std::fprintf(stderr, "h2plot failed\n");
                return 1;
            }
            all.push_back(timed.seconds);
            all_peak.push_back(timed.peak_mib);
        }
        const bool wide = std::strcmp(width, "20000") == 0;
        std::printf(
            "| h2plot, every plottable channel, %s px wide | %.3f s, %.1f MiB peak | %s |\n", width,
            median(all), median(all_peak), wide ? "< 128 MiB" : "< 2 s, < 32 MiB");
    }
    if (gnuplot) {
        const std::string gnuplot_svg = dir + "/gnuplot.svg";
        const Timed timed =
            run_timed({"gnuplot", "-e", gnuplot_script(log, gnuplot_svg)}, "/dev/null");
        std::printf("| gnuplot, same four columns to SVG | %.1f s (processor %.1f s), %.0f MiB "
                    "peak%s | - |\n",
                    timed.seconds, timed.cpu_seconds, timed.peak_mib,
                    timed.status == 0 ? "" : " (failed)");
        std::printf("| h2plot faster than gnuplot | %.0f x | >= 40 x |\n",
                    timed.seconds / median(plot));
    }
    return 0;
}
