// h2export --backfill: whole logs, plain and gzip-compressed, as OpenMetrics
// that Debian's promtool turns into Prometheus blocks holding every record.
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"

#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <zlib.h>

namespace h2export_test {
namespace {

constexpr int kRows = 200;
constexpr int kChannelSeries = 36;

struct Sample {
    double value;
    std::int64_t ms;
};

// `promtool tsdb dump` lines: {__name__="m", maser="a"} 1.5 1700000000000
std::map<std::string, std::vector<Sample>> dumped(const std::string& text) {
    std::map<std::string, std::vector<Sample>> series;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t end = line.find("} ");
        if (end == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(end + 2));
        Sample sample;
        rest >> sample.value >> sample.ms;
        series[line.substr(0, end + 1)].push_back(sample);
    }
    return series;
}

TEST(Backfill, PromtoolImportsEveryRecordOfPlainAndCompressedLogs) {
    h2test::TempDir dir;
    std::vector<std::string> rows;
    std::string plain = "MJD,Batt_V,Ext_V\n", compressed;
    for (int i = 0; i < kRows; ++i) {
        rows.push_back(h2mon_row(mjd_text(1.7e9 + 10.3 * i), static_cast<unsigned>(i)));
        plain += rows.back();
        compressed += rows.back();
        if (i == kRows / 2) {
            plain += "61384.1,not,a,row\n";
        }
    }
    append_file(dir.file("a.csv"), plain);
    gzFile gz = gzopen(dir.file("b.csv.gz").c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    gzwrite(gz, compressed.data(), static_cast<unsigned>(compressed.size()));
    gzclose(gz);

    const Finished backfill = run_h2export({"--follow", "a=" + dir.file("a.csv"), "--follow",
                                            "b=" + dir.file("b.csv.gz"), "--backfill"});
    ASSERT_EQ(backfill.status, 0) << backfill.err;
    EXPECT_NE(backfill.err.find("skipped a line that is not the MJD and 43 fields"),
              std::string::npos)
        << backfill.err;
    const std::string openmetrics = dir.file("history.om");
    h2test::write_text_file(openmetrics, backfill.out);

    const std::string blocks = dir.file("blocks");
    const Finished created = run_program(
        {"/usr/bin/promtool", "tsdb", "create-blocks-from", "openmetrics", openmetrics, blocks});
    ASSERT_EQ(created.status, 0) << created.out << created.err;
    std::filesystem::create_directory(blocks + "/wal");
    const Finished dump = run_program({"/usr/bin/promtool", "tsdb", "dump", blocks});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const auto series = dumped(dump.out);
    EXPECT_EQ(series.size(), 2u * kChannelSeries);

    const struct {
        const char* series;
        const char* channel;
        double factor;
    } checked[] = {
        {"{__name__=\"maser_supply_voltage_volts\", maser=\"MASER\", rail=\"battery\"}", "Batt_V",
         1},
        {"{__name__=\"maser_ion_pump_current_amperes\", maser=\"MASER\"}", "Ion_uA", 1e-6},
        {"{__name__=\"maser_hydrogen_pressure_pascals\", maser=\"MASER\"}", "H2_atm", 101325},
        {"{__name__=\"maser_fll_oscillator_fine_code\", maser=\"MASER\"}", "OFine", 0},
    };
    for (const char* maser : {"a", "b"}) {
        for (const auto& c : checked) {
            std::string name = c.series;
            name.replace(name.find("MASER"), 5, maser);
            const auto found = series.find(name);
            ASSERT_NE(found, series.end()) << name;
            ASSERT_EQ(found->second.size(), static_cast<std::size_t>(kRows)) << name;
            for (int i = 0; i < kRows; ++i) {
                const std::string field = row_field(rows[i], c.channel);
                const double expected =
                    c.factor == 0 ? std::stoull(field, nullptr, 16) : std::stod(field) * c.factor;
                EXPECT_NEAR(found->second[i].value, expected, std::abs(expected) * 1e-15) << name;
                std::int64_t ns = 0;
                mjd_unix_ns(rows[i].substr(0, rows[i].find(',')), &ns);
                EXPECT_EQ(found->second[i].ms, (ns + 500000) / 1000000) << name;
            }
        }
    }
}

} // namespace
} // namespace h2export_test
