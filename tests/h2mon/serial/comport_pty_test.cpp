// The port on a real pseudo-terminal: the test plays the maser at the master end.
// Times are real; the bounds leave room for a loaded machine.
#include "h2mon/serial/comport.h"

#include "line_scenarios.h"
#include "tests/support/process.h"
#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int ms_since(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool same_settings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

class ComportPtyTest : public ::testing::Test {
protected:
    PseudoTerminal maser;
    COMPORT port;

    void SetUp() override { ASSERT_EQ(port.open(maser.path().c_str(), 9600, true, true, 8), 0u); }
};

// The shared scenarios on a real line: the test plays the far end in real time.
class PseudoTerminalLine : public ScenarioLine {
public:
    PseudoTerminalLine() { EXPECT_EQ(port_.open(maser_.path().c_str(), 9600, true, true, 8), 0u); }
    ~PseudoTerminalLine() override { finish_sending(); }

    COMPORT& port() override { return port_; }
    void play(const std::vector<Arrival>& arrivals) override {
        finish_sending();
        start_ = Clock::now();
        sender_ = std::thread([this, arrivals, start = start_] {
            for (const Arrival& a : arrivals) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(a.at_ms));
                maser_.send(a.bytes);
            }
        });
    }
    int elapsed_ms() override { return ms_since(start_); }
    std::string received(std::size_t count) override { return maser_.receive(count, 1000); }
    bool exact() const override { return false; }

private:
    void finish_sending() {
        if (sender_.joinable()) {
            sender_.join();
        }
    }

    PseudoTerminal maser_;
    COMPORT port_;
    std::thread sender_;
    Clock::time_point start_ = Clock::now();
};

TEST_F(ComportPtyTest, ClosedPortDoesNothingAndReturnsAtOnce) {
    port.close();
    const Clock::time_point start = Clock::now();
    std::int32_t n = 10;
    char buffer[10];
    EXPECT_EQ(port.read(buffer, &n, 1000, 100, -1), 0u);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(port.readcount(buffer, 10, 1000, 100, -1), 0);
    EXPECT_EQ(port.readbuf(&n, 1000, 100, -1), nullptr);
    EXPECT_STREQ(port.readline(1000, 100, -1, 10), "");
    EXPECT_EQ(port.drain(200), 0);
    DWORD written = 99;
    EXPECT_EQ(port.write("ab", 2, &written), 0u);
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(port.putc('a'), 0u);
    EXPECT_EQ(port.puts("ab", &written), 0u);
    EXPECT_EQ(port.printf("%s", "ab"), 0u);
    EXPECT_LT(ms_since(start), 50);
    EXPECT_EQ(maser.receive(1, 100), "");
}

TEST_F(ComportPtyTest, CloseRestoresTheLineSettingsExactly) {
    port.close();
    termios own = maser.settings();
    ASSERT_EQ(port.open(maser.path().c_str(), 57600, true, true, 7), 0u);
    EXPECT_FALSE(same_settings(maser.settings(), own));
    port.close();
    EXPECT_TRUE(same_settings(maser.settings(), own));
}

TEST_F(ComportPtyTest, ModeStringSetsTheLineOnAFirstOpen) {
    port.close();
    COMPORT fresh;
    const std::string name = maser.path() + ":baud=4800 parity=E data=7 stop=2";
    ASSERT_EQ(fresh.open(name.c_str(), 115200, true, true, 8), 0u);
    EXPECT_STREQ(fresh.szPath, maser.path().c_str());
    // A pseudo-terminal keeps the speed and stop bits it is given (not its data
    // bits or parity): they are the mode string's, not the arguments'.
    const termios line = maser.settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B4800));
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
}

// A mode string, in either form, may follow any device name, also one that
// holds colons of its own (as the names under /dev/serial/by-path/ do).
TEST_F(ComportPtyTest, AModeStringFollowsAnyDeviceName) {
    port.close();
    h2test::TempDir by_path;
    const std::string link = by_path.file("pci-0000:00:14.0-usb-0:2:1.0-port0");
    ASSERT_EQ(symlink(maser.path().c_str(), link.c_str()), 0);
    struct Case {
        std::string device;
        std::string mode; // with its colon
        speed_t speed;
    };
    const Case cases[] = {
        {maser.path(), ":19200,n,8,1", B19200},
        {maser.path(), ":baud=4800 parity=N data=8 stop=1", B4800},
        {link, "", B57600},
        {link, ":2400,n,8,1", B2400},
        {link, ":baud=1200 parity=N data=8 stop=1", B1200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device + c.mode);
        COMPORT other;
        ASSERT_EQ(other.open((c.device + c.mode).c_str(), 57600, true, true, 8), 0u);
        EXPECT_EQ(std::string(other.szPath), c.device);
        const termios line = maser.settings();
        EXPECT_EQ(cfgetospeed(&line), c.speed);
    }
    COMPORT missing;
    EXPECT_EQ(missing.open("/dev/ttyh2mon-none:9600,n,8,1", 9600, true, true, 8),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ComportPtyTest, PortIsOpenedForExclusiveUse) {
    COMPORT other;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(other.open(maser.path().c_str(), 9600, true, true, 8),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_GE(ms_since(start), 995); // one retry after a second
    EXPECT_FALSE(other.isopen());
    EXPECT_EQ(port.putc('k'), 0u);
    EXPECT_EQ(maser.receive(1, 1000), "k");
}

TEST_F(ComportPtyTest, ReadFailsAndClosesWhenTheOtherEndGoesAway) {
    maser.close_master();
    std::int32_t n = 189;
    char frame[189];
    const DWORD error = port.read(frame, &n, 1000, 100, -1);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(n, 189);
    EXPECT_FALSE(port.isopen());
    EXPECT_EQ(port.dwLastError, error);
    EXPECT_STRNE(port.errortext(0, true), "Hosed");
}

} // namespace

std::unique_ptr<ScenarioLine> make_scenario_line(std::uint32_t) {
    return std::make_unique<PseudoTerminalLine>();
}

INSTANTIATE_TEST_SUITE_P(PseudoTerminal, LineScenarios, ::testing::Values(0u));
