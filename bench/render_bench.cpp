// Cost of turning one accepted frame into a record, in each form: decoding
// through the channel table, formatting, and the per-record flush, written to the
// null device so that only the program's own work is measured; the same through
// the console writer, the record handed to its thread and written there (the
// processor time of both threads); and the decoding alone, every shown channel's
// value or hexadecimal digits without any printing.
#include "telemetry/channels.h"
#include "h2mon/console_writer.h"
#include "h2mon/io/log_file.h"
#include "h2mon/output.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

struct NullStream {
    std::FILE* stream = std::fopen("/dev/null", "w");
    ~NullStream() { std::fclose(stream); }
};

double fixed_clock(SYSTEMTIME*) {
    return 60369.123456;
}
int discard_console(int character) {
    return character;
}

struct Frame {
    std::uint8_t bytes[kFrameLength];
    Frame() {
        std::mt19937 random(189);
        for (std::uint8_t& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
    }
};

void render(benchmark::State& state, OutputForm form, bool console_mode, bool with_log) {
    const NullStream out;
    LogFile log("/dev/null");
    const Frame frame;
    RecordOutput output;
    output.out = out.stream;
    output.log = with_log ? &log : nullptr;
    output.console_mode = console_mode;
    output.clock = fixed_clock;
    output.putch = discard_console;
    for (auto _ : state) {
        print_record(form, frame.bytes, kFrameLength, output);
    }
}

// A console that takes everything at once: the null device, written to as the
// writer writes to a console.
class NullConsole {
public:
    NullConsole() : fd_(open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
    ~NullConsole() { close(fd_); }

    ConsoleSink sink() const {
        const int fd = fd_;
        const auto take = [fd](const std::string& text) {
            (void)!write(fd, text.data(), text.size());
        };
        return {take, take, discard_console};
    }

private:
    int fd_;
};

// Records come tens of milliseconds apart, so each one finds the console
// writer's thread asleep and wakes it. Paced alike, one record every 200 µs,
// the same record written on the loop's thread and through the writer; the
// processor time counts both threads and leaves out the pauses, so the
// difference is what the writer costs a record.
void render_paced(benchmark::State& state, OutputForm form, bool console_mode,
                  bool through_writer) {
    const NullStream out;
    NullConsole console;
    ConsoleWriter writer(console.sink());
    const Frame frame;
    RecordOutput output;
    output.out = out.stream;
    output.console = through_writer ? &writer : nullptr;
    output.console_mode = console_mode;
    output.clock = fixed_clock;
    output.putch = discard_console;
    for (auto _ : state) {
        print_record(form, frame.bytes, kFrameLength, output);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void decode(benchmark::State& state) {
    const Frame frame;
    char digits[kChannelHexSize];
    for (auto _ : state) {
        for (const CHANNEL& channel : kChannels) {
            if (!channel_shown(channel)) {
                continue;
            }
            if (channel.scale != 0) {
                benchmark::DoNotOptimize(channel_value(frame.bytes, channel));
            } else {
                channel_hex(frame.bytes, channel, digits);
                benchmark::DoNotOptimize(digits);
            }
        }
    }
}

void current_time(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(current_mjd());
    }
}

} // namespace

BENCHMARK_CAPTURE(render, csv, OutputForm::kCsv, false, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render, csv_with_log, OutputForm::kCsv, false, true)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render, json, OutputForm::kJson, false, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render, json_console, OutputForm::kJson, true, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render, hex, OutputForm::kHex, false, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render_paced, csv_direct, OutputForm::kCsv, false, false)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render_paced, csv_console_writer, OutputForm::kCsv, false, true)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render_paced, json_console_direct, OutputForm::kJson, true, false)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(render_paced, json_console_console_writer, OutputForm::kJson, true, true)
    ->MeasureProcessCPUTime();
BENCHMARK(decode);
BENCHMARK(current_time);

BENCHMARK_MAIN();
