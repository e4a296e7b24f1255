// Cost of the health analysis per record, and of making simulated records.
//
// A simulated week of a quiet maser, 10 s apart, is made once; each iteration
// feeds all of it to a fresh analysis (trends fitted every six hours and the
// normal bands learned included): from values already parsed (as h2export,
// which parses every channel for its metrics, and h2plot, for the channels it
// draws, would give them), and from rows of the log (the analysed channels
// parsed too). A report on the week, and the simulator's making of a row
// (the frame, its decoding and printing) beside them.
#include "h2sim/simulated_log.h"
#include "telemetry/maser_health.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

struct Week {
    std::vector<std::string> lines;
    std::vector<LogRow> rows;
    std::vector<std::array<double, kChannelCount>> values;

    Week() {
        SimulatedLog log(log_plan(61192, "quiet", 7, 10));
        std::string line;
        while (log.next(line)) {
            lines.push_back(line);
            line.clear();
        }
        rows.resize(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            rows[i].parse(lines[i]);
            std::array<double, kChannelCount> v;
            v.fill(NAN);
            v[0] = rows[i].mjd();
            for (int row = 1; row < kChannelCount; ++row) {
                if (!rows[i].value(row, &v[static_cast<std::size_t>(row)])) {
                    v[static_cast<std::size_t>(row)] = NAN;
                }
            }
            values.push_back(v);
        }
    }
};

const Week& week() {
    static const Week w;
    return w;
}

void BM_HealthPerRecordFromValues(benchmark::State& state) {
    const Week& w = week();
    for (auto _ : state) {
        MaserHealth health(LimitTable::defaults());
        for (const auto& v : w.values) {
            health.add(v[0], v.data());
        }
        benchmark::DoNotOptimize(health);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w.values.size()));
}
BENCHMARK(BM_HealthPerRecordFromValues)->Unit(benchmark::kMillisecond);

void BM_HealthPerRecordFromRows(benchmark::State& state) {
    const Week& w = week();
    for (auto _ : state) {
        MaserHealth health(LimitTable::defaults());
        for (const LogRow& row : w.rows) {
            health.add(row);
        }
        benchmark::DoNotOptimize(health);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w.rows.size()));
}
BENCHMARK(BM_HealthPerRecordFromRows)->Unit(benchmark::kMillisecond);

void BM_HealthReport(benchmark::State& state) {
    const Week& w = week();
    MaserHealth health(LimitTable::defaults());
    for (const auto& v : w.values) {
        health.add(v[0], v.data());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(health.report());
    }
}
BENCHMARK(BM_HealthReport)->Unit(benchmark::kMicrosecond);

void BM_SimulatedRow(benchmark::State& state) {
    SimulatedLog log(log_plan(61192, "vacuum-leak", 10000, 10));
    std::string row;
    for (auto _ : state) {
        row.clear();
        log.next(row);
        benchmark::DoNotOptimize(row);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimulatedRow);

} // namespace

BENCHMARK_MAIN();
