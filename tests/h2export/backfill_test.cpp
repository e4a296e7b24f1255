// h2export --backfill: whole logs, plain and gzip-compressed, as OpenMetrics
// that Debian's promtool turns into Prometheus blocks holding every record.
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"
#include "tests/support/gzip.h"
#include "tests/support/loopback.h"

#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>
#include <filesystem>
#include <map>
#include <sstream>

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
        rows.push_back(random_row(mjd_text(1.7e9 + 10.3 * i), static_cast<unsigned>(i)));
        plain += rows.back();
        compressed += rows.back();
        if (i == kRows / 2) {
            plain += "61384.1,not,a,row\n";
            // Another record in the same 86.4 ms step: the first one is kept.
            plain += random_row(rows.back().substr(0, rows.back().find(',')), 99999);
        }
    }
    append_file(dir.file("a.csv"), plain);
    h2test::write_text_file(dir.file("b.csv.gz"), h2test::gzip(compressed));

    const ProgramRun backfill = run_h2export({"--follow", "a=" + dir.file("a.csv"), "--follow",
                                              "b=" + dir.file("b.csv.gz"), "--backfill"});
    ASSERT_EQ(backfill.exit_code, 0) << backfill.err;
    EXPECT_NE(backfill.err.find("skipped a line that is not the MJD and 43 fields"),
              std::string::npos)
        << backfill.err;
    // The counts come at the end, per file.
    EXPECT_NE(backfill.err.find(": " + dir.file("a.csv") + ": " + std::to_string(kRows) +
                                " records written, 1 lines skipped as bad, 1 records skipped as "
                                "a second one in the same 86.4 ms step\n"),
              std::string::npos)
        << backfill.err;
    EXPECT_EQ(backfill.err.find("maser_log_malformed_lines_total"), std::string::npos);
    const std::string openmetrics = dir.file("history.om");
    h2test::write_text_file(openmetrics, backfill.out);

    const std::string blocks = dir.file("blocks");
    const ProgramRun created = run_program(
        {"/usr/bin/promtool", "tsdb", "create-blocks-from", "openmetrics", openmetrics, blocks});
    ASSERT_EQ(created.exit_code, 0) << created.out << created.err;
    std::filesystem::create_directory(blocks + "/wal");
    const ProgramRun dump = run_program({"/usr/bin/promtool", "tsdb", "dump", blocks});
    ASSERT_EQ(dump.exit_code, 0) << dump.err;
    const auto series = dumped(dump.out);
    EXPECT_EQ(series.size(), 2u * kChannelSeries);

    for (const char* maser : {"a", "b"}) {
        for (const ChannelSeries& checked : kCheckedSeries) {
            const std::string name = dumped_series(checked, maser);
            const auto found = series.find(name);
            ASSERT_NE(found, series.end()) << name;
            ASSERT_EQ(found->second.size(), static_cast<std::size_t>(kRows)) << name;
            for (int i = 0; i < kRows; ++i) {
                const double expected = series_value(checked, rows[i]);
                EXPECT_NEAR(found->second[i].value, expected, std::abs(expected) * 1e-15) << name;
                std::int64_t ns = 0;
                mjd_unix_ns(rows[i].substr(0, rows[i].find(',')), &ns);
                EXPECT_EQ(found->second[i].ms, (ns + 500000) / 1000000) << name;
            }
        }
    }
}

// A real Prometheus (Debian's) on a data folder, on a free port; stopped with the object.
class PrometheusServer {
public:
    bool start(const std::string& data, std::string& error) {
        port_ = h2test::free_loopback_port();
        const std::string config = data + "/../prometheus.yml";
        h2test::write_text_file(config, "global:\n  scrape_interval: 1h\n");
        if (!server_.start({"/usr/bin/prometheus", "--config.file=" + config,
                            "--storage.tsdb.path=" + data,
                            "--web.listen-address=127.0.0.1:" + std::to_string(port_)},
                           error)) {
            return false;
        }
        if (!eventually([&] { return query("1").exit_code == 0; }, std::chrono::seconds(30))) {
            error =
                "prometheus did not answer: " + server_.read_stderr(std::chrono::milliseconds(100));
            return false;
        }
        return true;
    }
    ~PrometheusServer() {
        int status;
        if (server_.signal(SIGTERM)) {
            server_.wait_exit(status, std::chrono::milliseconds(10000));
        }
    }
    ProgramRun query(const std::string& expression) const {
        return run_program({"/usr/bin/promtool", "query", "instant",
                            "http://127.0.0.1:" + std::to_string(port_), expression});
    }

private:
    h2test::ChildProcess server_;
    int port_ = -1;
};

// A row whose MJD has one digit changed (the year 2109), or from before the
// masers' era, is no record: a sample of 2109 imported would make Prometheus
// drop every real block as past its retention. The history must still be there.
TEST(Backfill, StampsOutsideTheMasersTimeAreNotWrittenAndPrometheusKeepsTheHistory) {
    h2test::TempDir dir;
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::string log;
    for (int i = 0; i < kRows; ++i) {
        log += random_row(mjd_text(now - 3 * 3600 + 10.0 * i), static_cast<unsigned>(i));
        if (i == kRows / 2) {
            const std::string row = random_row(mjd_text(now - 3600), 7);
            log += "9" + row.substr(1);                      // 61384 -> 91384
            log += "46" + row.substr(2);                     // 1985
            log += random_row(mjd_text(now + 2 * 86400), 8); // two days ahead
        }
    }
    append_file(dir.file("a.csv"), log);
    const ProgramRun backfill = run_h2export({"--follow", "a=" + dir.file("a.csv"), "--backfill"});
    EXPECT_NE(backfill.err.find("a row whose MJD is before 1990 or more than a day ahead"),
              std::string::npos)
        << backfill.err;
    const std::string openmetrics = dir.file("history.om");
    h2test::write_text_file(openmetrics, backfill.out);
    const std::string data = dir.file("data");
    const ProgramRun created = run_program(
        {"/usr/bin/promtool", "tsdb", "create-blocks-from", "openmetrics", openmetrics, data});
    ASSERT_EQ(created.exit_code, 0) << created.out << created.err;

    PrometheusServer prometheus;
    std::string error;
    ASSERT_TRUE(prometheus.start(data, error)) << error;
    const ProgramRun counted =
        prometheus.query("count_over_time(maser_ion_pump_current_amperes{maser=\"a\"}[4h])");
    ASSERT_EQ(counted.exit_code, 0) << counted.err;
    EXPECT_NE(counted.out.find("=> " + std::to_string(kRows) + " @"), std::string::npos)
        << counted.out;
}

TEST(Backfill, ADamagedGzipLogGivesItsRecordsBeforeTheDamageAndFails) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; i < kRows; ++i) {
        log += random_row(mjd_text(1.7e9 + 10.3 * i), static_cast<unsigned>(i));
    }
    append_file(dir.file("good.csv"), log);
    const std::string bytes = h2test::gzip(log);
    std::string bad_check = bytes;
    bad_check[bad_check.size() - 8] ^= 0x01; // the trailer's CRC
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {bytes.substr(0, bytes.size() / 2), "unexpected end of file"},
        {bad_check, "incorrect data check"},
    };
    for (const auto& c : cases) {
        h2test::write_text_file(dir.file("a.csv.gz"), c.bytes);
        const ProgramRun backfill =
            run_h2export({"--follow", "a=" + dir.file("a.csv.gz"), "--follow",
                          "b=" + dir.file("good.csv"), "--backfill"});
        EXPECT_EQ(backfill.exit_code, 1) << c.reason;
        const auto records = [&](const char* maser) {
            const std::string series =
                std::string("\nmaser_ion_pump_current_amperes{maser=\"") + maser + "\"}";
            int count = 0;
            for (std::size_t at = backfill.out.find(series); at != std::string::npos;
                 at = backfill.out.find(series, at + 1)) {
                ++count;
            }
            return count;
        };
        EXPECT_NE(backfill.err.find("h2export: a: " + dir.file("a.csv.gz") + ": damaged after " +
                                    std::to_string(records("a")) + " rows: " + c.reason +
                                    "; the records before the damage are written\n"),
                  std::string::npos)
            << backfill.err;
        EXPECT_LT(records("a"), kRows) << c.reason;
        EXPECT_EQ(records("b"), kRows) << c.reason;
        EXPECT_EQ(backfill.out.substr(backfill.out.size() - 6), "# EOF\n");
    }
}

} // namespace
} // namespace h2export_test
