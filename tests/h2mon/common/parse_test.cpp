#include "h2mon/usage_text.h"
#include "h2mon/common/stdtpl.h"
#include "tests/h2mon/common/capture.h"
#include "tests/h2mon/common/program_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The usage text as printed with the given values of baud, interval_ms and fmt.
std::string usage_shown(const std::string& baud = "9600", const std::string& interval = "10000",
                        const std::string& fmt = "CSV") {
    const std::string rule(68, '_');
    return rule + " \n" + std::string(69, ' ') + "\n" +
           "H2MON version 1.02 of Apr 17 2025    h2mon-maintainers@example.org  \n" + rule +
           " \n"
           "\n"
           "Usage: h2mon <arguments>\n"
           "\n"
           "Arguments:\n"
           "     /port:<name>         Maser COM port\n"
           "     /baud:<rate>         Baud rate            Default: " +
           baud +
           "\n"
           "     /interval_ms:<msec>  Reading interval     Default: " +
           interval +
           "\n"
           "     /fmt:<CSV|HEX|JSON>  Output format        Default: " +
           fmt +
           "\n"
           "     /tty                 Use colors and formatting for console output\n";
}

// What a failed parse prints: the usage text after an empty line, then the
// diagnostic after another.
std::string rejected(const std::string& diagnostic, const std::string& usage = usage_shown()) {
    return "\n" + usage + diagnostic + "\n";
}

struct ParseRun {
    bool accepted;
    std::string printed;
};

// Runs parse with argv[0] = "h2mon" followed by arguments.
template <class Store>
ParseRun run_parse(Store& store, const std::vector<std::string>& arguments, int maxpositional = 0,
                   int minpositional = 0, bool wildcards = false, const char* usage = kUsageText) {
    std::vector<const char*> argv{"h2mon"};
    for (const std::string& a : arguments) {
        argv.push_back(a.c_str());
    }
    ParseRun run{false, ""};
    run.printed = stdout_of([&] {
        run.accepted = store.parse(static_cast<int>(argv.size()), argv.data(), usage, maxpositional,
                                   minpositional, wildcards);
    });
    return run;
}

TEST(UsageText, FollowsTheDocumentedLayout) {
    std::vector<std::string> lines;
    std::string text = kUsageText;
    ASSERT_EQ(text.back(), '\n');
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], std::string(68, '_') + " ");
    EXPECT_EQ(lines[1], std::string(69, ' '));
    EXPECT_EQ(lines[2].size(), 68u);
    EXPECT_EQ(lines[2].rfind("H2MON version 1.02 of Apr 17 2025 ", 0), 0u);
    EXPECT_EQ(lines[2].substr(66), "  ");
    EXPECT_NE(lines[2][65], ' '); // the address ends right before the two spaces
    EXPECT_EQ(lines[3], lines[0]);
    for (std::size_t i = 8; i < 13; ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(lines[i].rfind("     /", 0), 0u);
        EXPECT_EQ(lines[i][25], ' '); // descriptions start in column 27
        EXPECT_NE(lines[i][26], ' ');
        if (lines[i].find("Default:") != std::string::npos) {
            EXPECT_EQ(lines[i].find("Default: $"), 47u); // column 48
        }
    }
    for (const char* value : {"9600", "10000", "CSV"}) {
        text.replace(text.find('$'), 1, value);
    }
    EXPECT_EQ(usage_shown(), text);
}

struct CommandLineCase {
    std::vector<std::string> arguments;
    bool accepted;
    std::string printed;
};

TEST(Parse, ProgramCommandLinesGiveTheirDiagnosticsInOrder) {
    const std::string long_name(2000, 'n');
    const std::vector<CommandLineCase> cases = {
        {{}, false, rejected("\nMissing argument (\"port\")")},
        {{"/?"}, false, usage_shown()},
        {{"-?", "/bogus"}, false, usage_shown()},
        {{"/?anything"}, false, usage_shown()},
        {{"/port=COM3", "/?"}, false, rejected("\nUnrecognized argument (\"?\")")},
        {{"/PORT=COM3"}, true, ""},
        {{"-port:COM3", "/tty"}, true, ""},
        {{"/port=COM3", "/baud"},
         false,
         rejected("\nValue must be supplied for argument \"baud\"")},
        {{"/port=COM3", "/fmt:"}, false, rejected("\nValue must be supplied for argument \"fmt\"")},
        {{"/port=COM3", "/Port=COM4"}, false, rejected("\nDuplicate arguments (\"Port\")")},
        {{"/"}, false, rejected("\nUnrecognized argument (\"\")")},
        {{"-"}, false, rejected("\nUnrecognized argument (\"\")")},
        {{"--port=COM3"}, false, rejected("\nUnrecognized argument (\"-port\")")},
        {{"/port:COM3", "COM3"}, false, rejected("\nUnrecognized argument (\"COM3\")")},
        {{"/port:COM3:baud=19200 parity=N"},
         false,
         rejected("\nUnrecognized argument (\"port:COM3:baud\")")},
        {{"/baud=19200", "/fmt=hex", "/bogus"},
         false,
         rejected("\nUnrecognized argument (\"bogus\")", usage_shown("19200", "10000", "hex"))},
        {{"/interval_ms=5"},
         false,
         rejected("\nMissing argument (\"port\")", usage_shown("9600", "5", "CSV"))},
        {{"/" + long_name},
         false,
         rejected("\nUnrecognized argument (\"" + long_name.substr(0, 1022) + "\")")},
        {{""}, false, rejected("\nUnrecognized argument (\"\")")},
    };
    for (const CommandLineCase& c : cases) {
        std::string trace;
        for (const std::string& a : c.arguments) {
            trace += "[" + a.substr(0, 40) + "]";
        }
        SCOPED_TRACE(trace);
        ProgramOptions program;
        const ParseRun run = run_parse(program.store, c.arguments);
        EXPECT_EQ(run.accepted, c.accepted);
        EXPECT_EQ(run.printed, c.printed);
    }
}

TEST(Parse, OptionValuesReachTheProgramVariables) {
    ProgramOptions program;
    const ParseRun run = run_parse(
        program.store, {"-PORT=COM3:baud=19200 parity=N data=8 stop=1", "/BAUD:abc",
                        "/interval_ms=250ms", "/tty:", "/fmt:Json", "/out=C:\\logs\\maser.csv"});
    EXPECT_TRUE(run.accepted);
    EXPECT_EQ(run.printed, "");
    EXPECT_STREQ(program.port, "COM3:baud=19200 parity=N data=8 stop=1");
    EXPECT_EQ(program.baud, 0);
    EXPECT_EQ(program.interval_ms, 250);
    EXPECT_TRUE(program.tty);
    EXPECT_STREQ(program.fmt, "Json");
    EXPECT_STREQ(program.out, "C:\\logs\\maser.csv");
    for (const char* name : {"port", "baud", "interval_ms", "tty", "fmt", "out"}) {
        EXPECT_TRUE(program.store.given(name)) << name;
    }
}

TEST(Parse, ColonAfterTheNameKeepsADriveColonInTheValue) {
    ProgramOptions program;
    EXPECT_TRUE(run_parse(program.store, {"/port:COM1", "/out:C:\\x\\y.csv"}).accepted);
    EXPECT_STREQ(program.out, "C:\\x\\y.csv");
}

TEST(Parse, BooleanOptionTakesItsValueFromTheText) {
    const struct {
        const char* argument;
        bool tty;
    } cases[] = {{"/tty", true},
                 {"/tty=", true},
                 {"/tty=0", false},
                 {"/tty:false", false},
                 {"/TTY=yes", true}};
    for (const auto& c : cases) {
        ProgramOptions program;
        program.tty = !c.tty;
        EXPECT_TRUE(run_parse(program.store, {"/port=COM1", c.argument}).accepted) << c.argument;
        EXPECT_EQ(program.tty, c.tty) << c.argument;
        EXPECT_TRUE(program.store.given("tty"));
    }
}

TEST(Parse, LongValuesAreCutAt1022Characters) {
    ProgramOptions program;
    const std::string value(3000, 'v');
    EXPECT_TRUE(run_parse(program.store, {"/port=" + value}).accepted);
    EXPECT_EQ(std::string(program.port), value.substr(0, 1022));
}

TEST(Parse, ValuesStoredBeforeAFailureStayAndASecondParseSeesThemGiven) {
    ProgramOptions program;
    EXPECT_FALSE(run_parse(program.store, {"/baud=4800", "/bogus", "/fmt=hex"}).accepted);
    EXPECT_EQ(program.baud, 4800);
    EXPECT_STREQ(program.fmt, "CSV");
    const ParseRun again = run_parse(program.store, {"/port=COM1", "/baud=300"});
    EXPECT_FALSE(again.accepted);
    EXPECT_EQ(again.printed, rejected("\nDuplicate arguments (\"baud\")", usage_shown("4800")));
}

TEST(Parse, RefusedUpdatePrintsOnlyItsOwnMessage) {
    KVSTORE<KVAL> store;
    store.addstr("mode", nullptr, "fixed", 0, KVF_READONLY);
    const ParseRun run = run_parse(store, {"/mode=other"});
    EXPECT_FALSE(run.accepted);
    EXPECT_EQ(run.printed, "KVAL error: can't update read-only value mode\n");
    EXPECT_FALSE(store.given("mode"));
}

const char* const kGroupUsage = "Usage: tool [/a] [/b] [/c:<n>]\n";

std::string group_rejected(const std::string& diagnostic) {
    return "\n" + std::string(kGroupUsage) + diagnostic + "\n";
}

TEST(Parse, OneOfGroupThenRequiredThenPositionalMinimum) {
    const std::vector<CommandLineCase> cases = {
        {{"/c=1"}, false, group_rejected("\nOne argument from list (\"a\", \"b\") is required")},
        {{"/a", "/b", "/c=1"},
         false,
         group_rejected("\nOnly one argument from list (\"a\", \"b\") is allowed")},
        {{"/b"}, false, group_rejected("\nMissing arguments (\"c\", \"d\")")},
        {{"/b", "/d=x"}, false, group_rejected("\nMissing argument (\"c\")")},
        {{"/a", "/c=1", "/d=2"}, false, group_rejected("\nMissing argument")},
        {{"/a", "/c=1", "/d=2", "one"}, true, ""},
        {{"/a", "/c=1", "/d=2", "one", "two", "three"},
         false,
         group_rejected("\nUnrecognized argument (\"three\")")},
    };
    for (const CommandLineCase& c : cases) {
        SCOPED_TRACE(c.arguments.size());
        KVSTORE<KVAL> store;
        store.addbool("a", nullptr, nullptr, 0, KVF_ONEOF);
        store.addbool("b", nullptr, nullptr, 0, KVF_ONEOF);
        int c_value = 0;
        store.addnum("c", &c_value, "5", 0, KVF_REQUIRED); // a default does not satisfy it
        store.addstr("d", nullptr, nullptr, 0, KVF_REQUIRED);
        const ParseRun run = run_parse(store, c.arguments, 2, 1, false, kGroupUsage);
        EXPECT_EQ(run.accepted, c.accepted);
        EXPECT_EQ(run.printed, c.printed);
    }
}

TEST(Parse, PositionalArgumentsBecomeNumberedEntries) {
    const std::string long_value(1500, 'p');
    KVSTORE<KVAL> accepting;
    EXPECT_TRUE(run_parse(accepting, {"first", "second", long_value, ""}, 4).accepted);
    ASSERT_EQ(accepting.size(), 4);
    EXPECT_STREQ(accepting.find("1")->value(), "first");
    EXPECT_STREQ(accepting.find("2")->value(), "second");
    EXPECT_EQ(std::string(accepting.find("3")->value()), long_value.substr(0, 1022));
    EXPECT_STREQ(accepting.find("4")->value(), "");
    EXPECT_FALSE(accepting.given("1"));
}

TEST(Parse, OptionNamedLikeAPositionalEntryClashes) {
    KVSTORE<KVAL> store;
    store.addstr("1", nullptr, nullptr, 0, 0);
    const ParseRun run = run_parse(store, {"file.txt"}, 3);
    EXPECT_FALSE(run.accepted);
    EXPECT_EQ(run.printed, "KVAL error: addstr(1) already present\n");
}

TEST(NameList, NamesBeyondTheBufferAreCut) {
    NameList list;
    const std::string name(1000, 'r');
    for (int i = 0; i < 10; ++i) {
        list.add(name.c_str());
    }
    EXPECT_EQ(list.count(), 10);
    const std::string text = list.text();
    EXPECT_EQ(text.size(), kCmdlineListSize - 1);
    EXPECT_EQ(text.rfind("\"" + name + "\", \"" + name + "\", \"r", 0), 0u);
    list.clear();
    list.add("port");
    EXPECT_STREQ(list.text(), "\"port\"");
}

} // namespace
