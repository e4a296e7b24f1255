// What every end-to-end test shares: starting h2mon through the launcher,
// stopping it, and the checks made on every run.
#pragma once

#include "tests/e2e/launcher.h"
#include "tests/e2e/maser_line.h"
#include "tests/e2e/records.h"
#include "telemetry/channels.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

namespace e2e {

using namespace std::chrono_literals;

// How long to wait for what should happen at once on an idle machine: generous,
// for a loaded one.
constexpr milliseconds kPrompt = 5000ms;

// The five bytes of a poll.
const Bytes kPollBytes(std::begin(kPoll), std::end(kPoll));

// Skips the test when the launcher cannot do what it needs.
#define E2E_REQUIRE(capability)                                                                    \
    do {                                                                                           \
        if (!::e2e::launcher().can(::e2e::Capability::capability)) {                               \
            GTEST_SKIP() << "the launcher cannot do " #capability;                                 \
        }                                                                                          \
    } while (false)

// `line` changed to settings no program sets by itself (1200 baud, two stop
// bits, XON/XOFF flow control; a pseudo-terminal keeps no other data bits or
// parity), to tell whether h2mon put back what it found.
termios distinctive_line_settings(termios line);
// Expects the line settings h2mon saves and restores to be the same.
void expect_same_line_settings(const termios& actual, const termios& expected);

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override { started_mjd_ = mjd_now(); }

    // The /port argument for a line.
    static std::string port_arg(const std::string& device_path) {
        return "/port:" + launcher().port_name(device_path);
    }

    // Starts h2mon; null (and a failed test) when it cannot be started.
    std::unique_ptr<H2mon> start(const std::vector<std::string>& args, Input input = Input::Pipe,
                                 Output output = Output::Pipe);

    // Waits until standard output holds `count` line ends.
    static bool wait_for_lines(H2mon& h2mon, std::size_t count, milliseconds timeout = kPrompt);

    // Waits for h2mon to end and expects `code` and `error` on standard error
    // (nothing, unless told).
    static void expect_exit(H2mon& h2mon, int code, milliseconds timeout = kPrompt,
                            const std::string& error = "");

    // Presses a key and expects h2mon to end with code 0.
    static void stop_with_key(H2mon& h2mon, const std::string& error = "");

    // Expects every timestamp to be the time of a moment of this test, in order.
    void expect_plausible(const std::vector<double>& mjds) const;

    h2test::TempDir dir_;
    double started_mjd_ = 0;
};

} // namespace e2e
