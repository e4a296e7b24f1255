// h2mon's memory over a run: no error and no leak under valgrind's memcheck, and
// resident memory that stays flat from the thousandth record on.
//
// The flat-memory run lasts H2_MEMORY_RECORDS records (6000 by default, about a
// minute). For the full length:
//   H2_MEMORY_RECORDS=100000 build/dev/tests/faults/h2mon_memory_test
#include "tests/e2e/simulator.h"
#include "tests/faults/running_h2mon.h"
#include "tests/support/process_stats.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace faults {
namespace {

using namespace std::chrono_literals;

struct SimulatedMaser {
    e2e::Simulator simulator;
    h2test::TempDir dir;

    // Starts the simulator with `faults`.
    void start(const std::vector<std::string>& faults) {
        std::string error;
        ASSERT_TRUE(simulator.start(faults, dir.file("exchanges.log"), error)) << error;
    }
};

#ifdef H2_VALGRIND
// Each form, with the log file, with answers that are short or run long now and
// then, so that every path of the loop runs under memcheck.
TEST(Memory, UnderMemcheckNoErrorAndNoLeak) {
    struct Form {
        std::vector<std::string> args;
        std::size_t lines; // ten records or more
    };
    const Form forms[] = {{{"/fmt:csv"}, 11}, {{"/fmt:json", "/tty"}, 460}, {{"/fmt:hex"}, 10}};
    for (const Form& form : forms) {
        const std::string& name = form.args[0];
        SimulatedMaser maser;
        ASSERT_NO_FATAL_FAILURE(maser.start({"--short", "100@4", "--stray", "2@5"}));
        const std::string report = maser.dir.file("memcheck.txt");
        std::vector<std::string> args = {"/port:" + maser.simulator.path(), "/interval_ms:0",
                                         "/out:" + maser.dir.file("records.csv")};
        args.insert(args.end(), form.args.begin(), form.args.end());
        RunningH2mon h2mon(args, {H2_VALGRIND, "--error-exitcode=99", "--leak-check=full",
                                  "--show-leak-kinds=definite,indirect,possible",
                                  "--errors-for-leak-kinds=definite,indirect,possible",
                                  "--log-file=" + report});
        ASSERT_TRUE(h2mon.started()) << h2mon.start_error();
        std::vector<std::string> lines;
        std::string line;
        while (lines.size() < form.lines && h2mon.next_line(line, 30s)) { // memcheck is slow
            lines.push_back(line);
        }
        EXPECT_GE(lines.size(), form.lines) << name;
        EXPECT_EQ(h2mon.stop_with_key(lines, 30s), 0) << name << "\n"
                                                      << h2test::read_text_file(report);
        const std::string text = h2test::read_text_file(report);
        EXPECT_NE(text.find("ERROR SUMMARY: 0 errors"), std::string::npos) << name << "\n" << text;
        const std::size_t in_use = text.find("in use at exit:");
        if (in_use != std::string::npos) {
            std::printf("memcheck %s: %s\n", name.c_str(),
                        text.substr(in_use, text.find('\n', in_use) - in_use).c_str());
        }
    }
}
#endif

#ifndef H2_SANITIZED
// Resident memory at the thousandth record and at the last: nothing that lives in
// the heap or on the stack may have grown, and the whole no more than the few
// library pages a rarely taken path brings in.
TEST(Memory, ResidentMemoryStaysFlatOverALongRun) {
    const int records = run_length("H2_MEMORY_RECORDS", 6000);
    ASSERT_GT(records, 1000);
    SimulatedMaser maser;
    ASSERT_NO_FATAL_FAILURE(maser.start({}));
    RunningH2mon h2mon({"/port:" + maser.simulator.path(), "/interval_ms:0",
                        "/out:" + maser.dir.file("records.csv")});
    ASSERT_TRUE(h2mon.started()) << h2mon.start_error();
    std::string line;
    h2test::ProcessStats early;
    h2test::ProcessStats late;
    for (int record = 0; record <= records; ++record) { // the header first
        ASSERT_TRUE(h2mon.next_line(line)) << "record " << record;
        if (record == 1000) {
            ASSERT_TRUE(h2test::read_process_stats(h2mon.pid(), early));
        }
    }
    ASSERT_TRUE(h2test::read_process_stats(h2mon.pid(), late));
    std::vector<std::string> rest;
    EXPECT_EQ(h2mon.stop_with_key(rest), 0);

    std::printf("resident memory at record 1000: %lld KiB (%lld KiB anonymous); at record %d: "
                "%lld KiB (%lld KiB anonymous); peak %lld KiB\n",
                static_cast<long long>(early.resident_kib),
                static_cast<long long>(early.anonymous_kib), records,
                static_cast<long long>(late.resident_kib),
                static_cast<long long>(late.anonymous_kib), static_cast<long long>(late.peak_kib));
    EXPECT_LE(late.anonymous_kib, early.anonymous_kib);
    EXPECT_LE(late.resident_kib, early.resident_kib + 64);
}
#endif

} // namespace
} // namespace faults
