// Cost of turning one accepted frame into a record, in each form: decoding
// through the channel table, formatting, and the per-record flush, written to the
// null device so that only the program's own work is measured; and the decoding
// alone, every shown channel's value or hexadecimal digits without any printing.
#include "telemetry/channels.h"
#include "h2mon/output.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

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
    const NullStream log;
    const Frame frame;
    RecordOutput output;
    output.out = out.stream;
    output.log = with_log ? log.stream : nullptr;
    output.console_mode = console_mode;
    output.clock = fixed_clock;
    output.putch = discard_console;
    for (auto _ : state) {
        print_record(form, frame.bytes, kFrameLength, output);
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

BENCHMARK_CAPTURE(render, csv, OutputForm::kCsv, false, false);
BENCHMARK_CAPTURE(render, csv_with_log, OutputForm::kCsv, false, true);
BENCHMARK_CAPTURE(render, json, OutputForm::kJson, false, false);
BENCHMARK_CAPTURE(render, json_console, OutputForm::kJson, true, false);
BENCHMARK_CAPTURE(render, hex, OutputForm::kHex, false, false);
BENCHMARK(decode);
BENCHMARK(current_time);

BENCHMARK_MAIN();
