// The h2plot program on real files: the fixture log against its golden
// picture, the same log split, compressed and given out of order, and the
// failures a user meets.
#include "tests/support/golden.h"
#include "tests/support/gzip.h"
#include "tests/support/log_rows.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

const std::string kFixture = H2PLOT_TEST_DIR "/fixture.csv";
const std::string kGolden = H2PLOT_TEST_DIR "/golden/fixture.svg";

// The built-in limits alone, whatever the machine's configuration holds.
std::vector<std::string> fixture_args() {
    return {H2PLOT_PATH, "--channels", "Ion_uA,H2_atm,CCoarse", "--width",
            "400",       "--limits",   H2PLOT_TEST_DIR};
}

using h2test::ProgramRun;

ProgramRun h2plot(std::vector<std::string> args, const h2test::TempDir&) {
    return h2test::run_program(args);
}

bool write_gzip(const std::string& path, const std::string& text) {
    return h2test::write_text_file(path, h2test::gzip(text));
}

TEST(H2plot, FixtureLogGivesTheGoldenPicture) {
    h2test::TempDir dir;
    std::vector<std::string> args = fixture_args();
    args.insert(args.end(), {"-o", dir.file("plot.svg"), kFixture});
    const ProgramRun run = h2plot(args, dir);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string mismatch =
        h2test::golden_mismatch(kGolden, h2test::read_text_file(dir.file("plot.svg")));
    EXPECT_TRUE(mismatch.empty()) << mismatch;
    // The one malformed line of the fixture, reported once.
    EXPECT_EQ(run.err, "h2plot: 1 malformed line skipped (the first: " + kFixture + " line 9)\n");
    EXPECT_TRUE(run.out.empty());

    const ProgramRun xmllint =
        h2test::run_program({"/usr/bin/xmllint", "--noout", dir.file("plot.svg")});
    EXPECT_EQ(xmllint.exit_code, 0) << xmllint.err;
}

TEST(H2plot, SplitCompressedAndOutOfOrderLogsGiveTheSamePicture) {
    h2test::TempDir dir;
    const std::string log = h2test::read_text_file(kFixture);
    // The first part's last row without its line end still counts.
    const std::size_t cut = log.find('\n', log.size() / 2);
    ASSERT_TRUE(h2test::write_text_file(dir.file("a.csv"), log.substr(0, cut)));
    ASSERT_TRUE(write_gzip(dir.file("b.csv.gz"), log.substr(cut + 1)));
    std::vector<std::string> args = fixture_args();
    args.insert(args.end(), {"-o", "-", dir.file("b.csv.gz"), dir.file("a.csv")});
    const ProgramRun run = h2plot(args, dir);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, h2test::read_text_file(kGolden));
    EXPECT_NE(run.err.find("1 malformed line skipped"), std::string::npos) << run.err;
}

TEST(H2plot, HtmlPageHasTheStatisticsOfEveryChannel) {
    h2test::TempDir dir;
    std::vector<std::string> args = fixture_args();
    args.insert(args.end(), {"-o", dir.file("plot.html"), kFixture});
    ASSERT_EQ(h2plot(args, dir).exit_code, 0);
    const std::string page = h2test::read_text_file(dir.file("plot.html"));
    // The maser its log is named by. Hand-computed from the fixture: 22 records, one gap of 900
    // microdays (77.76 s), Ion_uA from 0.977 to 9.766; CCoarse, a code, from 07FE to 0804 as the
    // log prints it, changed 18 times, with no mean.
    for (const char* cell :
         {"<h1>fixture</h1>", "<td>Ion_uA</td>", "<td>uA</td><td>22</td><td>0.977</td>",
          "<td>9.766</td><td>1.221</td><td>0.000</td>", "; 1 gap, 1 min 18 s in all.",
          "<td>2026-12-10 00:01:35</td><td>2026-12-10 00:02:53</td>",
          "fixture.csv: 22 records, 2026-12-10 00:00:00 to 2026-12-10 00:04:11 UTC</li>",
          "<td>CCoarse</td>",
          "<td>code</td><td>22</td><td>07FE</td><td></td><td>0804</td><td>0804</td>"
          "<td>18 changes</td>"}) {
        EXPECT_NE(page.find(cell), std::string::npos) << cell;
    }
    // Nothing to fetch, nothing to run: a link goes to a place on the page.
    for (const char* outward : {"src=", "url(", "@import", "<script"}) {
        EXPECT_EQ(page.find(outward), std::string::npos) << outward;
    }
    for (std::size_t at = page.find("href="); at != std::string::npos;
         at = page.find("href=", at + 1)) {
        EXPECT_EQ(page.substr(at, 7), "href=\"#") << page.substr(at, 40);
    }
}

TEST(H2plot, APageRebuiltOnATimerIsTitledAndReplacedWhole) {
    h2test::TempDir dir;
    ASSERT_TRUE(h2test::write_text_file(dir.file("east.html"), "the page of an hour ago"));
    std::vector<std::string> args = fixture_args();
    args.insert(args.end(), {"--title", "east <2>", "-o", dir.file("east.html"), kFixture});
    ASSERT_EQ(h2plot(args, dir).exit_code, 0);
    const std::string page = h2test::read_text_file(dir.file("east.html"));
    EXPECT_NE(page.find("<title>east &lt;2&gt;: "), std::string::npos);
    EXPECT_EQ(page.find("an hour ago"), std::string::npos);
    // Written beside its place and renamed: nothing else is left in the folder.
    EXPECT_FALSE(std::filesystem::exists(dir.file("east.html.tmp")));
}

// The numbers behind the picture: a row per pixel column, every record
// counted once, the extremes kept.
TEST(H2plot, CsvOutputHasEachColumnsSummaries) {
    h2test::TempDir dir;
    std::vector<std::string> args = fixture_args();
    args.insert(args.end(), {"-o", dir.file("columns.csv"), kFixture});
    ASSERT_EQ(h2plot(args, dir).exit_code, 0);
    std::istringstream csv(h2test::read_text_file(dir.file("columns.csv")));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "utc,mjd,Ion_uA_min,Ion_uA_mean,Ion_uA_max,Ion_uA_count,H2_atm_min,"
                    "H2_atm_mean,H2_atm_max,H2_atm_count,CCoarse_min,CCoarse_mean,CCoarse_max,"
                    "CCoarse_count");
    std::getline(csv, line);
    EXPECT_EQ(line.substr(0, 37), "2026-12-10 00:00:00,61384.000000,1.22");
    int rows = 1, records = 0;
    bool spike = false;
    do {
        std::vector<std::string> fields;
        std::istringstream row(line);
        for (std::string field; std::getline(row, field, ',');) {
            fields.push_back(field);
        }
        ASSERT_EQ(fields.size(), 14u) << line;
        records += std::stoi(fields[5]);
        spike = spike || fields[4] == "9.766";
    } while (std::getline(csv, line) && ++rows);
    EXPECT_EQ(rows, 312); // the columns of a picture 400 pixels wide
    EXPECT_EQ(records, 22);
    EXPECT_TRUE(spike);
}

// The README's example page, made here so that it never goes stale: a day
// logged every 10 s, every minute from 06:00 to 09:00, an outage from 11:00
// to 12:30 with the logbook's note of it, a spike beyond the alarm limit at
// 15:00, and nothing after 20:00. To update the picture after a change to
// the drawing: H2_UPDATE_GOLDENS=1 ctest --preset dev -R ReadmeExample
// (H2PLOT_UPDATE_DOCS=1 as well), then commit docs/h2plot-example.svg.
TEST(H2plot, ReadmeExamplePictureIsUpToDate) {
    h2test::TempDir dir;
    std::string log;
    for (int s = 0; s < 20 * 3600;) {
        const bool outage = s >= 11 * 3600 && s < 12 * 3600 + 1800;
        if (!outage) {
            const double hours = s / 3600.0;
            const double ion = s == 15 * 3600 ? 92.0 : 30 + 4 * std::sin(hours / 3);
            const double h2 = 0.33 - 0.02 * hours / 20 + 0.004 * ((s / 10) % 7);
            const int coarse = 2048 + static_cast<int>(std::lround(3 * std::sin(hours)));
            char ccoarse[8];
            std::snprintf(ccoarse, sizeof ccoarse, "%04X", coarse);
            log += h2test::log_row(61384000000 + std::llround(s / 0.0864),
                                   {{"Ion_uA", std::to_string(ion).substr(0, 6)},
                                    {"H2_atm", std::to_string(h2).substr(0, 5)},
                                    {"CCoarse", ccoarse}}) +
                   "\n";
        }
        s += s >= 6 * 3600 && s < 9 * 3600 ? 60 : 10;
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("east.csv"), log));
    ASSERT_TRUE(h2test::write_text_file(
        dir.file("east.logbook"), "2026-12-10 12:35 note all: mains back after the outage\n"));
    const ProgramRun run =
        h2plot({H2PLOT_PATH, "--channels", "Ion_uA,H2_atm,CCoarse", "--from", "2026-12-10", "--to",
                "2026-12-11", "--title", "east", "--width", "900", "--limits", H2PLOT_TEST_DIR,
                "-o", dir.file("example.svg"), dir.file("east.csv")},
               dir);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string made = h2test::read_text_file(dir.file("example.svg"));
    // The line of each of the three panels breaks at the outage, whichever
    // column the bin of its last record before went to.
    std::size_t lines = 0;
    for (std::size_t at = made.find("class=\"mean\""); at != std::string::npos;
         at = made.find("class=\"mean\"", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 6u);
    // Compared whole but not printed: the picture is some 70 KB.
    const std::string mismatch =
        h2test::golden_mismatch(H2PLOT_DOCS_DIR "/h2plot-example.svg", made, "H2PLOT_UPDATE_DOCS");
    EXPECT_TRUE(mismatch.empty()) << mismatch;
}

// Value axes that keep the rest readable: the ion pump current over decades
// on a logarithmic axis by itself, a fixed or robust range with what lies
// beyond it marked at the frame.
TEST(H2plot, LogarithmicAndClippedValueAxes) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; i < 400; ++i) {
        // A pump starting: 50 uA falling to 0.05 uA, one spike of 9 in H2_atm.
        const double ion = 50 * std::pow(10.0, -3.0 * i / 399);
        log += h2test::log_row(61384000000 + 116 * i, {{"Ion_uA", std::to_string(ion).substr(0, 6)},
                                                       {"H2_atm", i == 200 ? "9.000"
                                                                  : i % 2  ? "0.500"
                                                                           : "0.510"},
                                                       {"n15_V", "-14.937"}}) +
               "\n";
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("pump.csv"), log));
    const struct {
        std::vector<std::string> options;
        std::vector<std::string> in;  // in the picture
        std::vector<std::string> out; // not in it
        std::string says;             // on standard error
    } cases[] = {
        {{},
         {"Pump current (uA, log scale)", ">0.1</text>", ">1</text>", ">10</text>"},
         {"class=\"clipped\""},
         ""},
        {{"--log", "H2_atm"}, {"(atm, log scale)"}, {}, ""},
        {{"--range", "H2_atm=0.4:0.6"},
         {"class=\"clipped\" x=\"", ">0.40</text>", ">0.60</text>"},
         {">9</text>"},
         ""},
        {{"--range", "h2_atm=robust"}, {"class=\"clipped\""}, {">8</text>", ">9</text>"}, ""},
        // A negative supply rail has no place on a logarithmic axis: drawn
        // on a linear one, and said so.
        {{"--log", "n15_V", "--channels", "n15_V"},
         {"-15 V (V)"},
         {"-15 V (V, log scale)"},
         "h2plot: n15_V has no value above 0 for a logarithmic axis (--log); it is drawn on a "
         "linear one\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {H2PLOT_PATH, "--channels", "Ion_uA,H2_atm", "-o", "-"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(dir.file("pump.csv"));
        const ProgramRun run = h2plot(args, dir);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        for (const std::string& text : c.in) {
            EXPECT_NE(run.out.find(text), std::string::npos) << text;
        }
        for (const std::string& text : c.out) {
            EXPECT_EQ(run.out.find(text), std::string::npos) << text;
        }
        EXPECT_EQ(run.err, c.says);
    }
}

// Splits CSV text into rows of fields.
std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream row(line);
        rows.emplace_back();
        for (std::string field; std::getline(row, field, ',');) {
            rows.back().push_back(field);
        }
    }
    return rows;
}

// The first record of a maser just started: a mark that shows, in the middle
// of a time axis of its own, and columns that each begin at their own time.
TEST(H2plot, OneRecordIsAMarkInTheMiddleOfItsAxis) {
    h2test::TempDir dir;
    ASSERT_TRUE(h2test::write_text_file(
        dir.file("one.csv"), h2test::log_row(61384500000, {{"Ion_uA", "3.000"}}) + "\n"));
    const ProgramRun svg =
        h2plot({H2PLOT_PATH, "--channels", "Ion_uA", "-o", "-", dir.file("one.csv")}, dir);
    ASSERT_EQ(svg.exit_code, 0) << svg.err;
    EXPECT_NE(svg.out.find("<circle class=\"point\""), std::string::npos) << svg.out;

    const ProgramRun csv = h2plot(
        {H2PLOT_PATH, "--channels", "Ion_uA", "-o", dir.file("c.csv"), dir.file("one.csv")}, dir);
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    const auto rows = csv_rows(h2test::read_text_file(dir.file("c.csv")));
    ASSERT_GT(rows.size(), 300u);
    std::size_t record = 0;
    for (std::size_t r = 2; r < rows.size(); ++r) {
        ASSERT_GT(std::stod(rows[r][1]), std::stod(rows[r - 1][1])) << rows[r][0];
        record = rows[r][5] == "1" ? r : record;
    }
    const double columns = static_cast<double>(rows.size() - 1);
    EXPECT_NEAR(static_cast<double>(record - 1), columns / 2, 1);
    EXPECT_LE(std::stod(rows[record][1]), 61384.5);
    EXPECT_GT(std::stod(rows[record + 1][1]), 61384.5);
}

// The change over the range is the channel's, however few columns its
// records fill: a pump current that rose within a minute of a week's page.
TEST(H2plot, TheChangeIsSeenWhenAllRecordsFallInOneColumn) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; i < 10; ++i) {
        log += h2test::log_row(61384000000 + 12 * i, {{"Ion_uA", i < 5 ? "30.762" : "149.902"}}) +
               "\n";
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("pump.csv"), log));
    const ProgramRun run = h2plot({H2PLOT_PATH, "--channels", "Ion_uA", "--last", "7d", "--to",
                                   "61384.001", "-o", dir.file("p.html"), dir.file("pump.csv")},
                                  dir);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // records, min, mean, max, last, change
    EXPECT_NE(h2test::read_text_file(dir.file("p.html"))
                  .find("<td>10</td><td>30.762</td><td>90.332</td><td>149.902</td><td>149.902</"
                        "td><td>119.140</td>"),
              std::string::npos);
}

// A field that is no number loses that value only: the row's other channels
// are plotted, and what was left out is said by channel, as the page counts it.
TEST(H2plot, AFieldThatIsNoNumberIsLeftOutAndSaidSo) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; i < 100; ++i) {
        log +=
            h2test::log_row(61384000000 + 116 * i,
                            {{"Batt_V", i % 10 == 3 ? "2?.069" : "27.069"}, {"Ion_uA", "1.500"}}) +
            "\n";
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("a.csv"), log));
    const ProgramRun run = h2plot({H2PLOT_PATH, "--channels", "Batt_V,Ion_uA,H2_atm", "-o",
                                   dir.file("p.html"), dir.file("a.csv")},
                                  dir);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "h2plot: 10 values that are no number left out: Batt_V 10 (the first: " +
                           dir.file("a.csv") + " line 4)\n");
    const std::string page = h2test::read_text_file(dir.file("p.html"));
    EXPECT_NE(page.find("<td>V</td><td>90</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>uA</td><td>100</td>"), std::string::npos);
    EXPECT_NE(page.find("), 100 records"), std::string::npos);
}

TEST(H2plot, FailuresExitWithOneAndSayWhy) {
    h2test::TempDir dir;
    ASSERT_TRUE(h2test::write_text_file(dir.file("garbage.csv"), "\x01\x02\nnot,a,row\n"));
    ASSERT_TRUE(
        h2test::write_text_file(dir.file("one.csv"), h2test::log_row(61384000000, {}) + "\n"));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{dir.file("missing.csv")}, "cannot open"},
        {{dir.file("garbage.csv")}, "no records"},
        {{"-o", dir.file("no/such/dir/plot.svg"), dir.file("one.csv")}, "cannot write"},
        // With an end of the range open and nothing in it, there is no axis.
        {{"--from", "61390", "-o", dir.file("p.svg"), dir.file("one.csv")},
         "no records in the time range; the last record was at 2026-12-10 00:00:00 UTC (MJD "
         "61384.000000); nothing plotted"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {H2PLOT_PATH};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramRun run = h2plot(args, dir);
        EXPECT_EQ(run.exit_code, 1) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

TEST(H2plot, ACompressedLogCutShortIsPlottedUpToTheCutAndFails) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; i < 5000; ++i) {
        log +=
            h2test::log_row(61384000000 + 100 * i, {{"Ion_uA", std::to_string(i % 97) + ".000"}});
        log += "\n";
    }
    ASSERT_TRUE(write_gzip(dir.file("whole.csv.gz"), log));
    const std::string packed = h2test::read_text_file(dir.file("whole.csv.gz"));
    ASSERT_TRUE(
        h2test::write_text_file(dir.file("cut.csv.gz"), packed.substr(0, packed.size() / 2)));
    const ProgramRun run =
        h2plot({H2PLOT_PATH, "-o", dir.file("cut.svg"), dir.file("cut.csv.gz")}, dir);
    EXPECT_EQ(run.exit_code, 1);
    const std::string says = "h2plot: " + dir.file("cut.csv.gz") + ": damaged after ";
    ASSERT_EQ(run.err.substr(0, says.size()), says) << run.err;
    const std::string rows =
        run.err.substr(says.size(), run.err.find(' ', says.size()) - says.size());
    EXPECT_GT(std::stoi(rows), 0);
    EXPECT_EQ(run.err.substr(says.size() + rows.size()),
              " rows: unexpected end of file; the rows before the damage are plotted\n");
    EXPECT_NE(h2test::read_text_file(dir.file("cut.svg")).find(", " + rows + " records<"),
              std::string::npos);
}

// The page an operator opens after the logger died: the silence up to the
// end of the range is a gap, and a range with no records at all is still a
// picture, all gap, saying on the page when the last record was; with
// nothing plotted the exit code is 1.
TEST(H2plot, SilenceAtTheEndsOfTheRangeIsShownAndCounted) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; i < 100; ++i) {
        log += h2test::log_row(61384000000 + 116 * i, {}) + "\n";
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("day.csv"), log));
    ASSERT_TRUE(h2test::write_text_file(dir.file("empty.csv"), ""));
    const struct {
        std::vector<std::string> args;
        int exit_code;
        const char* gaps;  // the gaps, as the heading counts them
        const char* says;  // on standard error and on the page
        const char* title; // in the heading
    } cases[] = {
        {{"--from", "61383.5", "--to", "61384.5", dir.file("day.csv")},
         0,
         "; 2 gaps, 23 h 43 min in all, the longest 12 h",
         "",
         "100 records"},
        {{"--last", "1d", "--to", "61390", dir.file("day.csv")},
         1,
         "; 1 gap, 1 d in all.",
         "no records in the time range; the last record was at 2026-12-10 00:16:32 UTC",
         "(MJD 61389.000000 to 61390.000000), no records"},
        {{"--from", "2026-12-01", "--to", "2026-12-02", dir.file("day.csv")},
         1,
         "; 1 gap, 1 d in all.",
         "no records in the time range; the first record is at 2026-12-10 00:00:00 UTC",
         "(MJD 61375.000000 to 61376.000000), no records"},
        {{"--last", "7d", dir.file("empty.csv")},
         1,
         "; 1 gap, 7 d in all.",
         "no records in the time range; the logs hold none",
         "), no records"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {H2PLOT_PATH, "--title", "Maser 2", "-o",
                                         dir.file("p.html")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::filesystem::remove(dir.file("p.html"));
        const ProgramRun run = h2plot(args, dir);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        const std::string page = h2test::read_text_file(dir.file("p.html"));
        EXPECT_NE(page.find(c.gaps), std::string::npos) << c.gaps;
        EXPECT_NE(page.find("<h1>Maser 2</h1>"), std::string::npos);
        EXPECT_NE(page.find(c.title), std::string::npos) << c.title;
        EXPECT_NE(page.find(c.says), std::string::npos) << c.says;
        EXPECT_NE(page.find("class=\"gap\""), std::string::npos);
    }
}

// One log that cannot be read among several: the rest is plotted, the exit
// code says not all was; a log whose rows go back in time is said once.
TEST(H2plot, WhatCannotBeReadIsReportedAndTheRestPlotted) {
    h2test::TempDir dir;
    std::string log;
    for (int i : {0, 2, 1, 4, 3, 5}) {
        log += h2test::log_row(61384000000 + 116 * i, {}) + "\n";
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("a.csv"), log));
    const ProgramRun run = h2plot(
        {H2PLOT_PATH, "-o", dir.file("p.svg"), dir.file("missing.csv"), dir.file("a.csv")}, dir);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("cannot open " + dir.file("missing.csv")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the other logs are plotted"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("h2plot: 2 rows go back in time"), std::string::npos) << run.err;
    EXPECT_NE(h2test::read_text_file(dir.file("p.svg")).find(", 6 records<"), std::string::npos);
}

} // namespace
