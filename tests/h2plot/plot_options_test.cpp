#include "h2plot/maser_files.h"
#include "h2plot/plot_options.h"
#include "program/version.h"

#include "telemetry/channels.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Parsed {
    std::optional<int> exit_code;
    PlotOptions options;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "h2plot");
    Parsed parsed;
    std::ostringstream out, err;
    parsed.exit_code =
        parse_plot_options(static_cast<int>(args.size()), args.data(), parsed.options, out, err);
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(PlotOptions, ReadsEveryOption) {
    const Parsed p =
        parse({"--channels", "ion_ua,H2_ATM,CCoarse,Ion_uA", "--from", "2026-12-01", "--to",
               "61384.5", "--width", "800", "-o", "Report.HTML", "b.csv.gz", "/var/log/a.csv"});
    ASSERT_FALSE(p.exit_code) << p.err;
    EXPECT_EQ(p.options.rows, (std::vector<int>{19, 29, 37}));
    EXPECT_EQ(p.options.from, 61375000000);
    EXPECT_EQ(p.options.to, 61384500000);
    EXPECT_EQ(p.options.width, 800);
    EXPECT_EQ(p.options.form, OutputForm::kHtml);
    EXPECT_EQ(p.options.logs, (std::vector<std::string>{"b.csv.gz", "/var/log/a.csv"}));
}

// An option that takes a list takes it as one argument, so that the logs may
// come before, between or after the options.
TEST(PlotOptions, AListIsOneArgumentAndTheLogsMayComeAnywhere) {
    const int ion = channel_row_named("Ion_uA");
    const int h2 = channel_row_named("H2_atm");
    const struct {
        std::vector<const char*> args;
        std::vector<int> rows, log_rows;
        std::vector<std::string> logs;
    } cases[] = {
        {{"--channels", "Ion_uA", "east.csv", "-o", "x.html"}, {ion}, {}, {"east.csv"}},
        {{"--log", "Ion_uA", "east.csv", "--channels", "Ion_uA"}, {ion}, {ion}, {"east.csv"}},
        {{"--channels", "Ion_uA,H2_atm", "--range", "Ion_uA=0:5", "a.csv", "b.csv"},
         {ion, h2},
         {},
         {"a.csv", "b.csv"}},
        {{"a.csv", "--channels", "H2_atm", "--channels", "Ion_uA", "--log", "Ion_uA", "b.csv"},
         {h2, ion},
         {ion},
         {"a.csv", "b.csv"}},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        ASSERT_FALSE(p.exit_code) << p.err;
        EXPECT_EQ(p.options.rows, c.rows) << c.args[1];
        EXPECT_EQ(p.options.log_rows, c.log_rows) << c.args[1];
        EXPECT_EQ(p.options.logs, c.logs) << c.args[1];
    }
}

TEST(PlotOptions, LastIsASpanUpToToOrUpToNow) {
    const struct {
        const char* text;
        MicroDay span;
    } spans[] = {
        {"12h", kMicroDaysPerDay / 2}, {"7d", 7 * kMicroDaysPerDay}, {"2w", 14 * kMicroDaysPerDay}};
    for (const auto& c : spans) {
        const Parsed p = parse({"--last", c.text, "--to", "61384.5", "a.csv"});
        ASSERT_FALSE(p.exit_code) << p.err;
        EXPECT_EQ(p.options.to, 61384500000);
        EXPECT_EQ(p.options.from, 61384500000 - c.span) << c.text;
    }
    const Parsed to_now = parse({"--last", "1d", "--title", "east", "a.csv"});
    ASSERT_FALSE(to_now.exit_code) << to_now.err;
    ASSERT_TRUE(to_now.options.to && to_now.options.from);
    // MJD 60000 is 2023-02-25: "now" is the clock's, not the data's.
    EXPECT_GT(*to_now.options.to, 60000 * kMicroDaysPerDay);
    EXPECT_EQ(*to_now.options.to - *to_now.options.from, kMicroDaysPerDay);
    EXPECT_EQ(to_now.options.title, "east");
}

// "all" and the subsystems' groups, as --help lists them.
TEST(PlotOptions, ChannelGroupsAndAll) {
    const Parsed all = parse({"--channels", "all", "a.csv"});
    ASSERT_FALSE(all.exit_code) << all.err;
    std::string names;
    for (int row : all.options.rows) {
        names += (names.empty() ? "" : ",") + std::string(kChannels[row].name);
    }
    EXPECT_EQ(names, plottable_names());
    const Parsed vacuum = parse({"--channels", "Vacuum,ion_uA,H2_atm", "a.csv"});
    ASSERT_FALSE(vacuum.exit_code) << vacuum.err;
    EXPECT_EQ(vacuum.options.rows,
              (std::vector<int>{channel_row_named("Ion_kV"), channel_row_named("Ion_uA"),
                                channel_row_named("H2_atm")}));
    const Parsed help = parse({"--help"});
    for (const char* group : {"supplies", "signals", "vacuum", "hydrogen", "ovens", "FLL"}) {
        const Parsed p = parse({"--channels", group, "a.csv"});
        EXPECT_FALSE(p.exit_code) << group << ": " << p.err;
        EXPECT_GE(p.options.rows.size(), 2u) << group;
        EXPECT_NE(help.out.find(std::string(group) + ": "), std::string::npos) << group;
    }
}

TEST(PlotOptions, DefaultsAreHealthChannelsAllTimeAndAnSvg) {
    const Parsed p = parse({"a.csv"});
    ASSERT_FALSE(p.exit_code) << p.err;
    EXPECT_FALSE(p.options.rows.empty());
    for (int row : p.options.rows) {
        EXPECT_EQ(channel_kind(kChannels[row]), ChannelKind::kMeasurement);
    }
    EXPECT_FALSE(p.options.from);
    EXPECT_FALSE(p.options.to);
    EXPECT_EQ(p.options.output, "h2plot.svg");
    EXPECT_EQ(p.options.form, OutputForm::kSvg);
    EXPECT_EQ(parse({"-o", "-", "a.csv"}).options.form, OutputForm::kSvg);
}

// A log named NAME.csv, rotated or not, is maser NAME's, whose limits are
// DIR/NAME.limits and whose logbook lies beside it.
TEST(PlotOptions, TheMaserIsTheOneTheLogsAreNamedByUnlessNamed) {
    const struct {
        std::vector<const char*> args;
        const char* maser;
        const char* logbook;
    } cases[] = {
        {{"/var/log/h2mon/east.csv.1", "/var/log/h2mon/east.csv"},
         "east",
         "/var/log/h2mon/east.logbook"},
        {{"east.csv.2.gz", "east.CSV", "-", "east.csv-20261210"}, "east", "east.logbook"},
        {{"C:\\h2mon\\maser.csv"}, "maser", "C:\\h2mon\\maser.logbook"},
        // Logs of two masers, or one named otherwise, are no one maser's.
        {{"east.csv", "west.csv"}, "", ""},
        {{"east.csv", "notes.txt"}, "", ""},
        {{"eastcsv"}, "", ""},
        {{"-"}, "", ""},
        {{"--maser", "west", "/var/log/h2mon/east.csv"}, "west", "/var/log/h2mon/west.logbook"},
        {{"--maser", "west", "-"}, "west", ""},
        {{"--logbook", "/srv/east.log", "east.csv"}, "east", "/srv/east.log"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        ASSERT_FALSE(p.exit_code) << p.err;
        EXPECT_EQ(p.options.maser, c.maser) << c.args.back();
        EXPECT_EQ(p.options.logbook, c.logbook) << c.args.back();
        EXPECT_EQ(p.options.logbook_given, c.args.front() == std::string("--logbook"));
        EXPECT_EQ(p.options.limits_dir, kDefaultLimitsDir);
    }
    EXPECT_EQ(parse({"--limits", "/srv/limits", "a.csv"}).options.limits_dir, "/srv/limits");
}

TEST(PlotOptions, ABadCommandLineExitsWithTwoNamingTheOption) {
    const struct {
        std::vector<const char*> args;
        const char* named; // in the message
    } cases[] = {
        {{}, "LOG"},
        {{"--channels", "Batt_V,Nope", "a.csv"}, "--channels"},
        {{"--channels", "Rsvd2", "a.csv"}, "--channels"},
        {{"--channels", "AuxFLL3", "a.csv"}, "--channels"},
        {{"--from", "yesterday", "a.csv"}, "--from"},
        {{"--to", "2026-02-30", "a.csv"}, "--to"},
        {{"--from", "61384.5", "--to", "61384", "a.csv"}, "--from"},
        {{"--width", "12", "a.csv"}, "--width"},
        {{"--width", "wide", "a.csv"}, "--width"},
        {{"-o", "plot.png", "a.csv"}, "-o"},
        {{"--colour", "red", "a.csv"}, "--colour"},
        {{"--last", "7", "a.csv"}, "--last"},
        {{"--last", "7m", "a.csv"}, "--last"},
        {{"--last", "0d", "a.csv"}, "--last"},
        {{"--last", "7d", "--from", "61384", "a.csv"}, "--from"},
        {{"--range", "Ion_uA", "a.csv"}, "--range"},
        {{"--range", "Ion_uA=5:1", "a.csv"}, "--range"},
        {{"--range", "Ion_uA=0:x", "a.csv"}, "--range"},
        {{"--range", "Nope=0:1", "a.csv"}, "Nope"},
        {{"--log", "Rsvd2", "a.csv"}, "--log"},
        // A logarithmic axis cannot reach 0.
        {{"--log", "Ion_uA", "--range", "Ion_uA=0:5", "a.csv"}, "--log"},
        // A year is no MJD: 2025 would be 1864.
        {{"--from", "2025", "a.csv"}, "2026-12-10"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.exit_code, kExitUsage) << c.named;
        EXPECT_NE(p.err.find(c.named), std::string::npos) << p.err;
        EXPECT_TRUE(p.out.empty());
    }
}

TEST(PlotOptions, ARefusedChannelListsThePlottableOnes) {
    const Parsed p = parse({"--channels", "RsvdDT1", "a.csv"});
    EXPECT_NE(p.err.find("reserved"), std::string::npos) << p.err;
    for (const char* name : {"Batt_V", "Ion_uA", "H2_atm", "FFCorrL", "CCoarse", "AuxFLL4"}) {
        EXPECT_NE(p.err.find(name), std::string::npos) << name << " missing from " << p.err;
    }
    for (const char* name : {"Rsvd", "AuxFLL3"}) {
        EXPECT_EQ(p.err.find(name, p.err.find("plottable")), std::string::npos) << name;
    }
}

TEST(PlotOptions, HelpAndVersionExitWithZero) {
    for (const char* flag : {"--help", "-h"}) {
        const Parsed p = parse({flag});
        EXPECT_EQ(p.exit_code, kExitDone) << flag;
        EXPECT_NE(p.out.find("--channels"), std::string::npos) << p.out;
    }
    // Each option with the one placeholder of its value and its default, not
    // the names of the argument library's types and checks.
    const std::string help = parse({"--help"}).out;
    for (const char* line :
         {"\n  --channels LIST=Ion_uA,H2_atm,Pure_A,CSide_V,CBtm_V,IF_V\n", "\n  --maser NAME ",
          "\n  --logbook FILE ", "\n  --log LIST ", "\n  --range NAME=LO:HI ",
          "\n  --width PX=1200 ", "\n  -o,--output FILE=h2plot.svg ", "\n  LOG ... REQUIRED "}) {
        EXPECT_NE(help.find(line), std::string::npos) << line << " in\n" << help;
    }
    for (const char* type : {"TEXT ...", "INT", "in ["}) {
        EXPECT_EQ(help.find(type), std::string::npos) << type << " in\n" << help;
    }
    const Parsed version = parse({"--version"});
    EXPECT_EQ(version.exit_code, kExitDone);
    EXPECT_EQ(version.out, version_line("h2plot") + "\n");
}

} // namespace
