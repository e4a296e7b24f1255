// The output forms against the simulator playing golden/frames.txt: CSV with its
// log file, the JSON-like block with and without console mode, the hexadecimal
// dump; the first frame discarded; the log appended across runs.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"

namespace e2e {
namespace {

class FormsTest : public E2eTest {
protected:
    // A simulator that starts again from the first frame of the golden frames.
    std::unique_ptr<Simulator> start_simulator() {
        auto simulator = std::make_unique<Simulator>();
        std::string error;
        const bool started = simulator->start({"--frames", golden_path("frames.txt")},
                                              dir_.file("exchanges.log"), error);
        EXPECT_TRUE(started) << error;
        return started ? std::move(simulator) : nullptr;
    }

    // Runs h2mon on the simulator until its output has as many lines as
    // `expected_lines`, presses a key and returns the output.
    std::string run_until(const Simulator& simulator, std::vector<std::string> args,
                          std::size_t expected_lines) {
        args.insert(args.begin(), port_arg(simulator.path()));
        auto h2mon = start(args);
        if (h2mon == nullptr) {
            return "";
        }
        EXPECT_TRUE(wait_for_lines(*h2mon, expected_lines)) << h2mon->output();
        stop_with_key(*h2mon);
        return h2mon->output();
    }
};

// The rows of a CSV output, without its header.
std::string csv_rows(const std::string& csv) {
    return csv.substr(csv.find('\n') + 1);
}

TEST_F(FormsTest, EachFormPrintsTheFramesAfterTheFirstAndOnlyCsvGoesToTheLog) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* golden;
    };
    // With a reading interval of a second the key always arrives while h2mon
    // sleeps after the last expected record.
    const Case cases[] = {
        {"CSV, the default", {}, "csv.txt"},
        {"JSON-like", {"/fmt:Json"}, "json.txt"},
        {"JSON-like for a console", {"/fmt:JSON", "/tty"}, "json_tty.txt"},
        {"hexadecimal", {"-fmt=hex"}, "hex.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string log = dir_.file(std::string(c.golden) + ".log");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"/interval_ms:1000", "/out:" + log});
        const std::string expected = golden(c.golden);
        const auto simulator = start_simulator();
        ASSERT_NE(simulator, nullptr);

        const Masked output = mask_mjds(run_until(*simulator, args, line_count(expected)));
        EXPECT_EQ(output.text, expected);
        expect_plausible(output.mjds);

        const Masked logged = mask_mjds(launcher().text_file(log));
        const bool csv = std::string(c.golden) == "csv.txt";
        EXPECT_EQ(logged.text, csv ? csv_rows(expected) : "");
        expect_plausible(logged.mjds);
    }
}

TEST_F(FormsTest, TheLogFileKeepsTheRowsOfEarlierRuns) {
    const std::string log = dir_.file("h2mon.csv");
    const std::vector<std::string> args = {"/out:" + log, "/interval_ms:1000"};
    // Polls 1 and 2 (frames 1 and 2), then polls 3 and 4 (frames 3 and 1): each
    // run shows the second frame it receives.
    const auto simulator = start_simulator();
    ASSERT_NE(simulator, nullptr);
    const std::string first = mask_mjds(run_until(*simulator, args, 2)).text;
    const std::string second = mask_mjds(run_until(*simulator, args, 2)).text;

    const std::vector<std::string> rows = lines_of(csv_rows(golden("csv.txt")));
    ASSERT_EQ(rows.size(), 3u);
    const std::string header = lines_of(golden("csv.txt"))[0] + "\n";
    EXPECT_EQ(first, header + rows[0] + "\n");
    EXPECT_EQ(second, header + rows[2] + "\n");
    EXPECT_EQ(mask_mjds(launcher().text_file(log)).text, rows[0] + "\n" + rows[2] + "\n");
}

} // namespace
} // namespace e2e
