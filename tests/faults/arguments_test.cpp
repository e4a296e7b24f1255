// A hostile command line: arguments of 100 000 characters, and bytes beyond
// ASCII in every option. Each either ends h2mon with its message and code 1, or
// leaves it running as it should; none crashes it or overruns its buffers (the
// sanitizer build runs these too).
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace e2e {
namespace {

const std::string kLongText(100000, 'x');
const std::string kLongNumber(100000, '9');
// Option names and values longer than this are cut before they are used.
const std::string kCutText(1022, 'x');
const std::string kCutNumber(1022, '9');

// Arguments and outputs may hold placeholders: {port} a good port (the whole
// argument), {port-name} its name, {dir} a directory of the test, {usage} the
// usage text without its last line end.
struct ArgumentCase {
    const char* what;
    std::vector<std::string> args;
    std::string expected;   // the whole output, or empty when h2mon must run
    int code;               // 0: runs until a key is pressed
    std::string error = ""; // standard error
};

// The system's text for an error number, as h2mon prints it after its own words.
std::string system_text(int error) {
    return std::string(std::strerror(error)) + "\n";
}

const ArgumentCase kCases[] = {
    {"a 100000-character port name, cut and then refused as too long",
     {"/port:" + kLongText},
     "Error connecting to " + kCutText + ": " + system_text(ENAMETOOLONG),
     1},
    {"a 100000-character format",
     {"{port}", "/fmt:" + kLongText},
     "Error: unsupported format (" + kCutText + ")\n",
     1},
    {"a 100000-character log file name, which cannot be opened",
     {"{port}", "/interval_ms:0", "/out:/" + kLongText},
     "",
     0,
     "Cannot open the log file /" + kLongText.substr(0, 1021) + ": " + std::strerror(ENAMETOOLONG) +
         "; records go to standard output only\n"},
    {"a 100000-digit interval, past what 32 bits hold",
     {"{port}", "/interval_ms:" + kLongNumber},
     "Error: interval_ms out of range (" + kCutNumber + ")\n",
     1},
    {"a 100000-digit baud rate",
     {"{port}", "/interval_ms:0", "/baud:" + kLongNumber},
     "Error: baud out of range (" + kCutNumber + ")\n",
     1},
    {"a 100000-character option name",
     {"{port}", "/" + kLongText + ":1"},
     diagnostic("Unrecognized argument (\"" + kCutText + "\")"),
     1},
    {"a 100000-character positional argument, its message cut to the longest there is",
     {"{port}", kLongText},
     diagnostic(("Unrecognized argument (\"" + kLongText).substr(0, 4094)),
     1},
    {"non-ASCII port name",
     {"/port:\xC3\x84\xFF\x01"},
     "Error connecting to \xC3\x84\xFF\x01: " + system_text(ENOENT),
     1},
    {"non-ASCII format", {"{port}", "/fmt:\xFF\xFE"}, "Error: unsupported format (\xFF\xFE)\n", 1},
    {"non-ASCII interval",
     {"{port}", "/interval_ms:\xFF"},
     "Error: interval_ms is not a whole number (\xFF)\n",
     1},
    {"non-ASCII baud rate",
     {"{port}", "/baud:\xC3\xA9"},
     "Error: baud is not a whole number (\xC3\xA9)\n",
     1},
    {"non-ASCII log file name", {"{port}", "/interval_ms:0", "/out:{dir}/\xFF\xC3\xA9.csv"}, "", 0},
    {"non-ASCII console flag", {"{port}", "/interval_ms:0", "/tty:\xFF"}, "", 0},
    {"non-ASCII option name",
     {"{port}", "/p\xC3\xB6rt:1"},
     diagnostic("Unrecognized argument (\"p\xC3\xB6rt\")"),
     1},
    {"non-ASCII positional argument",
     {"{port}", "\xFF"},
     diagnostic("Unrecognized argument (\"\xFF\")"),
     1},
};

// Numbers that are not whole decimal numbers: the store's conversion would take
// what it can ("10s" as 10, "abc" as 0). Refused before the port is opened, so
// a port that does not exist is never named.
const ArgumentCase kNumberCases[] = {
    {"letters for an interval",
     {"{port}", "/interval_ms:abc"},
     "Error: interval_ms is not a whole number (abc)\n",
     1},
    {"an interval with a unit",
     {"{port}", "/interval_ms:10s"},
     "Error: interval_ms is not a whole number (10s)\n",
     1},
    {"a baud rate with a letter after it, and a port that does not exist",
     {"/port:{dir}/no-such-port", "/baud:9600x"},
     "Error: baud is not a whole number (9600x)\n",
     1},
    {"a baud rate in words",
     {"{port}", "/baud:fast"},
     "Error: baud is not a whole number (fast)\n",
     1},
    {"a sign alone",
     {"{port}", "/interval_ms:-"},
     "Error: interval_ms is not a whole number (-)\n",
     1},
    {"a space before the digits",
     {"{port}", "/interval_ms: 100"},
     "Error: interval_ms is not a whole number ( 100)\n",
     1},
    {"a plus sign before the digits", {"{port}", "/interval_ms:+0", "/baud:+9600"}, "", 0},
};

class ArgumentTest : public E2eTest {
protected:
    std::string fill_in(std::string text) {
        std::string usage = golden("usage.txt");
        usage.pop_back();
        replace_all(text, "{usage}", usage);
        replace_all(text, "{port}", port_arg(simulator_.path()));
        replace_all(text, "{port-name}", launcher().port_name(simulator_.path()));
        replace_all(text, "{dir}", dir_.path());
        return text;
    }

    void SetUp() override {
        E2eTest::SetUp();
        std::string error;
        ASSERT_TRUE(simulator_.start({}, dir_.file("exchanges.log"), error)) << error;
    }

    // Runs h2mon with the case's arguments and checks its output and exit.
    void check(const ArgumentCase& c) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args;
        for (const std::string& arg : c.args) {
            args.push_back(fill_in(arg));
        }
        auto h2mon = start(args);
        ASSERT_NE(h2mon, nullptr);
        if (c.code != 0) {
            expect_exit(*h2mon, c.code);
            EXPECT_EQ(h2mon->output(), fill_in(c.expected));
            return;
        }
        ASSERT_TRUE(wait_for_lines(*h2mon, 3)) << h2mon->output(); // the header, two records
        stop_with_key(*h2mon, c.error);
        EXPECT_EQ(lines_of(h2mon->output())[0] + "\n", lines_of(golden("csv.txt"))[0] + "\n");
    }

    Simulator simulator_;
};

TEST_F(ArgumentTest, EveryHostileArgumentEndsInItsMessageOrARun) {
    for (const ArgumentCase& c : kCases) {
        check(c);
    }
    // The log file with the non-ASCII name holds the records.
    EXPECT_FALSE(h2test::read_text_file(dir_.file("\xFF\xC3\xA9.csv")).empty());
}

TEST_F(ArgumentTest, ANumberOptionTakesOnlyAWholeDecimalNumber) {
    for (const ArgumentCase& c : kNumberCases) {
        check(c);
    }
}

} // namespace
} // namespace e2e
