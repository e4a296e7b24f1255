// The report page's judgement of a maser, on weeks that h2sim writes as
// h2mon logs them: each scenario's page against the truth its story tells
// (when it steps and by how much, when it reaches a limit), the logbook on
// the panels and in the analysis, the maser's own limits, and a state that is
// the range's end's whatever the range.
#include "h2sim/scenario.h"
#include "telemetry/time_text.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>

namespace {

using h2test::ProgramRun;

constexpr double kStart = 61192.0; // 2026-06-01, the logs' first record
constexpr double kMinute = 1.0 / 1440;

// A maser's log as h2sim writes it: `days` of `scenario` from kStart, a
// record a minute, as DIR/NAME.csv.
std::string simulated_log(const h2test::TempDir& dir, const std::string& scenario, int days,
                          const std::string& name = "east") {
    const std::string path = dir.file(name + ".csv");
    const ProgramRun run = h2test::run_program({H2SIM_PATH, "--write-log", path, "--start",
                                                "2026-06-01", "--span", std::to_string(days) + "d",
                                                "--interval", "1min", "--scenario", scenario});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return path;
}

// The time of a log's last record: `days` after kStart, less a record.
std::string last_record(int days) {
    return utc_text(micro_days(kStart + days - kMinute), 4).replace(10, 1, "T");
}

struct Page {
    int exit_code = -1;
    std::string text;
    std::string err;

    // The part of the page that judges the maser.
    std::string state() const {
        const std::size_t from = text.find("<section class=\"state\">");
        const std::size_t to = text.find("</section>", from);
        return from == std::string::npos ? "" : text.substr(from, to - from);
    }
    bool has(const std::string& what) const { return text.find(what) != std::string::npos; }
};

// The page of the week up to the log's last record, with the limits of
// `limits` (a folder; by default one of the test's own, empty) and whatever
// else `more` asks.
Page week_page(const h2test::TempDir& dir, const std::string& log, int days,
               std::vector<std::string> more = {}) {
    std::vector<std::string> args = {H2PLOT_PATH,          "--last",  "7d",   "--to",
                                     last_record(days),    "--title", "east", "-o",
                                     dir.file("page.html")};
    if (std::find(more.begin(), more.end(), "--limits") == more.end()) {
        args.insert(args.end(), {"--limits", dir.file("no-limits")});
    }
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(log);
    const ProgramRun run = h2test::run_program(args);
    return {run.exit_code, h2test::read_text_file(dir.file("page.html")), run.err};
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The row of the subsystem in the state's table, up to its end.
std::string subsystem_row(const Page& page, const std::string& name) {
    const std::string state = page.state();
    std::size_t at = state.find("<td>" + name + "</td>");
    // A subsystem whose channels are drawn links to their panels.
    at = at != std::string::npos ? at : state.find("#panels-" + name + "\">" + name + "</a>");
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t from = state.rfind("<tr", at);
    return state.substr(from, state.find("</tr>", at) - from);
}

TEST(HealthPage, AQuietMonthIsOkAndSteadyWithNoStepAndNoForecast) {
    h2test::TempDir dir;
    const Page page = week_page(dir, simulated_log(dir, "quiet", 30), 30);
    ASSERT_EQ(page.exit_code, 0) << page.err;
    EXPECT_TRUE(page.has("<h2>State: <span class=\"level ok\">ok</span></h2>")) << page.state();
    for (const char* subsystem : {"supplies", "signals", "vacuum", "hydrogen", "ovens", "FLL"}) {
        EXPECT_EQ(subsystem_row(page, subsystem).rfind("<tr class=\"ok\">", 0), 0u) << subsystem;
    }
    EXPECT_TRUE(page.has("Every subsystem is ok and every channel is steady: no trend, no step, "
                         "no forecast."));
    EXPECT_TRUE(page.has("<p>No step.</p>"));
    EXPECT_TRUE(page.has("<p>No channel heads for a limit.</p>"));
    // Each of the six channels drawn by default is steady in the table.
    EXPECT_EQ(count(page.text, "<td>steady</td>"), 6u);
    EXPECT_EQ(count(page.state(), "attention"), 0u);
}

TEST(HealthPage, AnOvensStepIsListedWithItsTimeAndSize) {
    h2test::TempDir dir;
    const Scenario& scenario = *scenario_named("oven-step");
    const StoryStep truth = story_steps(scenario).at(0);
    const Page page = week_page(dir, simulated_log(dir, "oven-step", 5), 5);
    ASSERT_EQ(page.exit_code, 0) << page.err;
    static const std::regex kStep(
        "<b>CSide_V</b> \\(Voltage of side cavity oven\\) stepped by ([-+0-9.]+) V \\(from "
        "[0-9.]+ V to [0-9.]+ V\\) on (\\w+) ([-0-9]+) at ([0-9:]+) UTC: not explained by the "
        "logbook");
    std::smatch step;
    const std::string state = page.state();
    ASSERT_TRUE(std::regex_search(state, step, kStep)) << state;
    EXPECT_NEAR(std::stod(step[1]), truth.to - truth.from, 0.1 * std::fabs(truth.to - truth.from));
    // The first record at the new level, within five records of the story's step.
    const std::optional<MicroDay> at = parse_time(step[3].str() + "T" + step[4].str());
    ASSERT_TRUE(at);
    const MicroDay story = micro_days(kStart + truth.at / kStoryDay);
    EXPECT_LE(std::llabs(*at - story), micro_days(5 * kMinute)) << step[3] << " " << step[4];
    EXPECT_EQ(step[2], weekday_name(story));
    EXPECT_EQ(subsystem_row(page, "ovens").rfind("<tr class=\"attention\">", 0), 0u);
    EXPECT_NE(subsystem_row(page, "ovens").find("CSide_V stepped"), std::string::npos);
    EXPECT_TRUE(page.has("<tr class=\"attention\"><td>CSide_V</td>"));
}

TEST(HealthPage, ALeaksForecastIsShownWithItsRangeAndTheVacuumFlagged) {
    h2test::TempDir dir;
    const Scenario& scenario = *scenario_named("vacuum-leak");
    const Page page = week_page(dir, simulated_log(dir, "vacuum-leak", 10), 10);
    ASSERT_EQ(page.exit_code, 0) << page.err;
    const std::string vacuum = subsystem_row(page, "vacuum");
    EXPECT_TRUE(vacuum.rfind("<tr class=\"attention\">", 0) == 0 ||
                vacuum.rfind("<tr class=\"alarm\">", 0) == 0)
        << vacuum;
    static const std::regex kForecast(
        "<li class=\"attention\">Ion_uA reaches its alarm limit 80 uA in about ([0-9.]+) days "
        "\\(([0-9.]+) to ([0-9.]+)\\), rising by [0-9.]+ uA a day, around ([-0-9]+)</li>");
    std::smatch forecast;
    const std::string state = page.state();
    ASSERT_TRUE(std::regex_search(state, forecast, kForecast)) << state;
    const double left = std::stod(forecast[1]);
    EXPECT_LE(std::stod(forecast[2]), left);
    EXPECT_GE(std::stod(forecast[3]), left);
    // From the last record, a minute before day 10.
    const double truth = story_reaches(scenario, 80) / kStoryDay - (10 - kMinute);
    EXPECT_NEAR(left, truth, 1) << state;
    EXPECT_EQ(forecast[4], utc_text(micro_days(kStart + 10 + left), 0));
}

// The mark of a logbook entry on a panel: where its line is, and what a
// reader pointing at it is shown.
struct Mark {
    double x;
    std::string title;
};

std::vector<Mark> marks(const std::string& svg) {
    static const std::regex kMark("<g class=\"logbook-mark\"><title>([^<]*)</title>\n<line "
                                  "x1=\"([0-9.]+)\"");
    std::vector<Mark> found;
    for (std::sregex_iterator at(svg.begin(), svg.end(), kMark), end; at != end; ++at) {
        found.push_back({std::stod((*at)[2]), (*at)[1]});
    }
    return found;
}

// An intervention on the pump half a day before the end of a leak's week:
// marked on every panel at its time and listed, it starts the pump's trend
// again, so the leak's forecast is gone until a day has passed; a note
// beside it starts nothing.
TEST(HealthPage, ALogbookEntryIsMarkedListedAndStartsTheTrendItConcernsAgain) {
    h2test::TempDir dir;
    const std::string log = simulated_log(dir, "vacuum-leak", 10);
    ASSERT_TRUE(h2test::write_text_file(dir.file("east.logbook"),
                                        "2026-06-05 09:30 note supplies: mains cut for 20 min\n"
                                        "2026-06-10T12:00Z vacuum: ion pump elements replaced\n"));
    const Page page = week_page(dir, log, 10);
    ASSERT_EQ(page.exit_code, 0) << page.err;
    const std::string state = page.state();
    for (const char* item :
         {"<li value=\"1\">2026-06-05 09:30 UTC <b>note supplies</b>: mains cut for 20 min (a "
          "note: it starts nothing again)</li>",
          "<li value=\"2\">2026-06-10 12:00 UTC <b>vacuum</b>: ion pump elements replaced (the "
          "trends and normal levels of Ion_kV, Ion_uA start again)</li>",
          "No trend yet for Ion_kV, Ion_uA: a trend rests on a day of records at least, and "
          "theirs start at 2026-06-10 12:00 UTC."}) {
        EXPECT_NE(state.find(item), std::string::npos) << item << "\n" << state;
    }
    EXPECT_EQ(state.find("Ion_uA reaches"), std::string::npos) << state;
    EXPECT_TRUE(page.has("<td>Ion_uA</td>")); // its row, whose trend is not known
    EXPECT_EQ(count(page.text, "<td>not known yet</td>"), 1u);

    // Every panel marks both, in the page and in the picture on its own,
    // which lists them too.
    const ProgramRun svg =
        h2test::run_program({H2PLOT_PATH, "--last", "7d", "--to", last_record(10), "--limits",
                             dir.file("none"), "-o", "-", log});
    ASSERT_EQ(svg.exit_code, 0) << svg.err;
    for (const std::string& picture : {page.text, svg.out}) {
        const std::vector<Mark> found = marks(picture);
        ASSERT_EQ(found.size(), 12u);
        EXPECT_EQ(found[0].title, "1: 2026-06-05 09:30 UTC note supplies: mains cut for 20 min");
        EXPECT_EQ(found[1].title, "2: 2026-06-10 12:00 UTC vacuum: ion pump elements replaced");
    }
    EXPECT_NE(svg.out.find("> 2026-06-10 12:00 UTC vacuum: ion pump elements replaced</text>"),
              std::string::npos);
    // At its time on the axis: 6.5 days into the week's 1112 columns.
    static const std::regex kFrame("<rect x=\"([0-9.]+)\" y=\"[0-9.]+\" width=\"([0-9]+)\"");
    std::smatch frame;
    ASSERT_TRUE(std::regex_search(svg.out, frame, kFrame));
    const double left = std::stod(frame[1]) + 0.5, columns = std::stod(frame[2]) - 1;
    const double week_start = kStart + 10 - kMinute - 7;
    EXPECT_NEAR(marks(svg.out)[1].x, left + (kStart + 9.5 - week_start) / 7 * columns, 1);
}

// The state is the end's: the records of the days before it and the
// logbook, whatever the range's start, whether the end is given or found
// by reading the logs again; standard input cannot be read again.
TEST(HealthPage, TheStateIsThatOfTheEndOfTheRangeWhateverItsStart) {
    h2test::TempDir dir;
    const std::string log = simulated_log(dir, "vacuum-leak", 10);
    const std::string week = week_page(dir, log, 10).state();
    ASSERT_NE(week.find("Ion_uA reaches"), std::string::npos) << week;
    const std::string input = h2test::read_text_file(log);
    const struct {
        std::vector<std::string> args;
        std::string input;
        bool judged;
    } cases[] = {
        {{"--last", "2d", "--to", last_record(10), log}, "", true},
        {{"--from", "2026-06-01", log}, "", true},
        {{log}, "", true},
        {{"--last", "7d", "--to", last_record(10), "-"}, input, true},
        {{"-"}, input, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {H2PLOT_PATH,
                                         "--title",
                                         "east",
                                         "--limits",
                                         dir.file("no-limits"),
                                         "--logbook",
                                         dir.file("east.logbook"),
                                         "-o",
                                         dir.file("other.html")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramRun run = h2test::run_program(args, c.input);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const Page page{run.exit_code, h2test::read_text_file(dir.file("other.html")), run.err};
        if (c.judged) {
            EXPECT_EQ(page.state(), week) << c.args.front();
        } else {
            EXPECT_TRUE(page.has("<h2>State: not judged</h2>"));
            EXPECT_TRUE(page.has("a log on standard input cannot be read again for them: give "
                                 "the end (--to or --last)."));
        }
    }
}

// A maser gone silent is said to be before anything else, with the state of
// its last record; with no record in the days analysed it is not judged.
TEST(HealthPage, ASilentMaserIsSaidToBe) {
    h2test::TempDir dir;
    const std::string log = simulated_log(dir, "quiet", 8);
    const struct {
        const char* to;
        std::vector<std::string> says;
    } cases[] = {
        {"2026-06-10",
         {"<h2>State: <span class=\"level attention\">silent</span></h2>\n<p>No record for the "
          "last 1 d of the range: the maser or its logger has been silent. At the last record, "
          "2026-06-08 23:59 UTC, from its records since 2026-06-02 00:00 UTC (6 d 23 h) and the "
          "logbook, the maser was <span class=\"level ok\">ok</span>.</p>"}},
        {"2026-06-20",
         {"<h2>State: not judged</h2>\n<p>No record in the 8 d up to the end of the range, "
          "2026-06-20 00:00 UTC.</p>"}},
    };
    for (const auto& c : cases) {
        const ProgramRun run =
            h2test::run_program({H2PLOT_PATH, "--last", "7d", "--to", c.to, "--limits",
                                 dir.file("none"), "-o", dir.file("silent.html"), log});
        const Page page{run.exit_code, h2test::read_text_file(dir.file("silent.html")), run.err};
        for (const std::string& text : c.says) {
            EXPECT_TRUE(page.has(text)) << text << "\n" << page.state();
        }
    }
}

// The station's limits (limits.conf) and the maser's (NAME.limits) replace
// the built-in lines: the page judges by them, draws them and names the files.
TEST(HealthPage, AMasersLimitsAreTheStationsAndItsOwn) {
    h2test::TempDir dir;
    const std::string log = simulated_log(dir, "quiet", 8);
    std::filesystem::create_directory(dir.file("etc"));
    ASSERT_TRUE(
        h2test::write_text_file(dir.file("etc/limits.conf"), "H2_atm 0.2..0.3 0.15..0.45 0.05\n"));
    ASSERT_TRUE(h2test::write_text_file(dir.file("etc/east.limits"),
                                        "Ion_uA 35..50 ..80 -\nIon_uA 40..50 ..80 -\n"));
    const struct {
        std::vector<std::string> args;
        const char* vacuum;   // its state
        const char* hydrogen; // its state
        std::vector<std::string> shown;
    } cases[] = {
        {{"--limits", dir.file("etc")},
         "attention",
         "attention",
         {"normal 35..50, alarm ..80 (east.limits)</tspan>",
          "normal 0.2..0.3, alarm 0.15..0.45 (limits.conf)</tspan>",
          "<li>limits: the built-in table, " + dir.file("etc/limits.conf") + ", " +
              dir.file("etc/east.limits") + "</li>",
          "<li>" + dir.file("etc/east.limits") + ":2: Ion_uA is given again"}},
        {{"--limits", dir.file("etc"), "--maser", "west"},
         "ok",
         "attention",
         {"normal 10..50, alarm ..80</tspan>"}},
        {{}, "ok", "ok", {"<li>limits: the built-in table</li>"}},
    };
    for (const auto& c : cases) {
        const Page page = week_page(dir, log, 8, c.args);
        ASSERT_EQ(page.exit_code, 0) << page.err;
        EXPECT_EQ(subsystem_row(page, "vacuum").rfind("<tr class=\"" + std::string(c.vacuum), 0),
                  0u)
            << c.vacuum << "\n"
            << page.state();
        EXPECT_EQ(
            subsystem_row(page, "hydrogen").rfind("<tr class=\"" + std::string(c.hydrogen), 0), 0u)
            << c.hydrogen;
        for (const std::string& text : c.shown) {
            EXPECT_TRUE(page.has(text)) << text;
        }
    }
}

} // namespace
