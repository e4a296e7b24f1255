#include "tests/e2e/fixture.h"

namespace e2e {

namespace {

// Slack for the coarse timestamp (six decimals of a day are 86 ms) and for the
// clock readings of the test and the program not being the same.
constexpr double kMjdSlack = 2.0 / 86400.0;

} // namespace

termios distinctive_line_settings(termios line) {
    cfmakeraw(&line);
    line.c_cflag |= CSTOPB | CREAD | CLOCAL;
    line.c_iflag |= IXON | IXOFF;
    cfsetispeed(&line, B1200);
    cfsetospeed(&line, B1200);
    return line;
}

void expect_same_line_settings(const termios& actual, const termios& expected) {
    EXPECT_EQ(cfgetospeed(&actual), cfgetospeed(&expected));
    EXPECT_EQ(cfgetispeed(&actual), cfgetispeed(&expected));
    EXPECT_EQ(actual.c_cflag, expected.c_cflag);
    if (!launcher().can(Capability::WholeLineRestored)) {
        const tcflag_t flow = IXON | IXOFF;
        EXPECT_EQ(actual.c_iflag & flow, expected.c_iflag & flow);
        return;
    }
    EXPECT_EQ(actual.c_iflag, expected.c_iflag);
    EXPECT_EQ(actual.c_oflag, expected.c_oflag);
    EXPECT_EQ(actual.c_lflag, expected.c_lflag);
}

std::unique_ptr<H2mon> E2eTest::start(const std::vector<std::string>& args, Input input,
                                      Output output) {
    std::string error;
    std::unique_ptr<H2mon> h2mon = launcher().start(args, input, output, error);
    EXPECT_NE(h2mon, nullptr) << error;
    return h2mon;
}

bool E2eTest::wait_for_lines(H2mon& h2mon, std::size_t count, milliseconds timeout) {
    return h2mon.wait_for_output(
        [count](const std::string& output) { return line_count(output) >= count; }, timeout);
}

void E2eTest::expect_exit(H2mon& h2mon, int code, milliseconds timeout, const std::string& error) {
    int status = -1;
    ASSERT_TRUE(h2mon.wait_exit(status, timeout)) << "still running; output:\n" << h2mon.output();
    EXPECT_EQ(status, code) << h2mon.output();
    if (launcher().can(Capability::QuietStderr)) {
        EXPECT_EQ(h2mon.error_output(), error);
    }
}

void E2eTest::stop_with_key(H2mon& h2mon, const std::string& error) {
    ASSERT_TRUE(h2mon.press_key('q'));
    expect_exit(h2mon, 0, kPrompt, error);
}

void E2eTest::expect_plausible(const std::vector<double>& mjds) const {
    const double now = mjd_now();
    double previous = 0;
    for (double mjd : mjds) {
        EXPECT_GE(mjd, started_mjd_ - kMjdSlack);
        EXPECT_LE(mjd, now + kMjdSlack);
        EXPECT_GE(mjd, previous) << "timestamps out of order";
        previous = mjd;
    }
}

} // namespace e2e
