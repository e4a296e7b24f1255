// Line settings of serial ports on real pseudo-terminals: DCBs set and read
// back, what reaches the device, and the settings that are refused.
#include "h2mon/win32/win32.h"
#include "tests/support/dcb.h"
#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

class CommState : public ::testing::Test {
protected:
    void SetUp() override {
        port = CreateFileA(pty.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(GetCommState(port, &opened));
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) {
            CloseHandle(port);
        }
    }

    DCB current() {
        DCB dcb{};
        EXPECT_TRUE(GetCommState(port, &dcb));
        return dcb;
    }

    PseudoTerminal pty;
    HANDLE port = INVALID_HANDLE_VALUE;
    DCB opened{}; // the port's settings right after opening
};

struct Settings {
    const char* name;
    std::function<void(DCB&)> change;
};

// A DCB in the form the serial port class builds for the maser line.
DCB maser_line(const DCB& base) {
    DCB dcb = base;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    return dcb;
}

TEST_F(CommState, SettingsReadBackAsSetAndReachTheDevice) {
    const Settings table[] = {
        {"9600 8N1", [](DCB&) {}},
        {"115200 7E2",
         [](DCB& d) {
             d.BaudRate = 115200;
             d.ByteSize = 7;
             d.Parity = EVENPARITY;
             d.StopBits = TWOSTOPBITS;
         }},
        {"arbitrary rate, odd parity",
         [](DCB& d) {
             d.BaudRate = 12345;
             d.Parity = ODDPARITY;
         }},
        {"arbitrary rate, 6 bits, mark parity, 2 stop bits",
         [](DCB& d) {
             d.BaudRate = 250000;
             d.ByteSize = 6;
             d.Parity = MARKPARITY;
             d.StopBits = TWOSTOPBITS;
         }},
        {"5 bits, space parity, 1.5 stop bits",
         [](DCB& d) {
             d.BaudRate = 1200;
             d.ByteSize = 5;
             d.Parity = SPACEPARITY;
             d.StopBits = ONE5STOPBITS;
         }},
        {"fastest standard rate", [](DCB& d) { d.BaudRate = 4000000; }},
        {"RTS/CTS handshaking",
         [](DCB& d) {
             d.fOutxCtsFlow = 1;
             d.fRtsControl = RTS_CONTROL_HANDSHAKE;
         }},
        {"CTS checked, RTS held on", [](DCB& d) { d.fOutxCtsFlow = 1; }},
        {"XON/XOFF both ways, parity checked",
         [](DCB& d) {
             d.fOutX = 1;
             d.fInX = 1;
             d.XonChar = 'Q';
             d.XoffChar = 'S';
             d.Parity = EVENPARITY;
             d.fParity = 1;
         }},
        {"fields without a termios counterpart",
         [](DCB& d) {
             d.XonLim = 100;
             d.XoffLim = 200;
             d.ErrorChar = '?';
             d.EofChar = 0x1a;
             d.EvtChar = '\n';
             d.fErrorChar = 1;
             d.fNull = 1;
             d.fAbortOnError = 1;
             d.fTXContinueOnXoff = 1;
             d.fOutxDsrFlow = 1;
             d.fDsrSensitivity = 1;
             d.fDtrControl = DTR_CONTROL_HANDSHAKE;
             d.fRtsControl = RTS_CONTROL_TOGGLE;
         }},
        {"control lines off",
         [](DCB& d) {
             d.fDtrControl = DTR_CONTROL_DISABLE;
             d.fRtsControl = RTS_CONTROL_DISABLE;
         }},
        // What a mode string builds on an all-zero DCB: no length, no binary flag,
        // XON and XOFF characters both 0 while software flow control is off.
        {"built from an all-zero DCB",
         [](DCB& d) { d = DCB{}, d.BaudRate = 19200, d.ByteSize = 8; }},
    };
    for (const Settings& settings : table) {
        SCOPED_TRACE(settings.name);
        DCB wanted = maser_line(opened);
        settings.change(wanted);
        ASSERT_TRUE(SetCommState(port, &wanted));

        DCB expected = wanted;
        expected.DCBlength = sizeof(DCB);
        expected.fBinary = 1;
        EXPECT_EQ(dcb_text(current()), dcb_text(expected));

        const termios line = pty.settings();
        EXPECT_EQ(pty.kernel_output_speed(), wanted.BaudRate);
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, wanted.StopBits != ONESTOPBIT);
        EXPECT_EQ((line.c_cflag & CMSPAR) != 0, wanted.Parity >= MARKPARITY);
        EXPECT_EQ((line.c_cflag & PARODD) != 0,
                  wanted.Parity == ODDPARITY || wanted.Parity == MARKPARITY);
        EXPECT_EQ((line.c_cflag & CRTSCTS) != 0,
                  wanted.fOutxCtsFlow != 0 || wanted.fRtsControl == RTS_CONTROL_HANDSHAKE);
        EXPECT_EQ((line.c_iflag & IXON) != 0, wanted.fOutX != 0);
        EXPECT_EQ((line.c_iflag & IXOFF) != 0, wanted.fInX != 0);
        EXPECT_EQ((line.c_iflag & INPCK) != 0, wanted.fParity != 0);
    }
}

TEST_F(CommState, LineCarriesBytesUntranslated) {
    DCB dcb = maser_line(opened);
    ASSERT_TRUE(SetCommState(port, &dcb));
    const termios line = pty.settings();
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON), 0u);
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));

    // Line ends, interrupt and erase characters, a NUL and 0xFF pass both ways as they are.
    const std::string bytes("\r\n\x03\x7f\x00\xff\x11\x13", 8);
    pty.send(bytes);
    ASSERT_TRUE(pty.wait_for_input(bytes.size()));
    COMMTIMEOUTS port_timeouts{MAXDWORD, MAXDWORD, 10, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &port_timeouts));
    char got[16] = {};
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(port, got, sizeof got, &n, nullptr));
    EXPECT_EQ(std::string(got, n), bytes);

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(pty.receive(bytes.size(), 1000), bytes);
    EXPECT_EQ(pty.receive(1, 50), ""); // nothing echoed or added
}

TEST_F(CommState, InvalidSettingsAreRefusedAndLeaveTheLineAsItWas) {
    DCB good = maser_line(opened);
    good.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(port, &good));
    const termios before = pty.settings();
    const DCB state_before = current();

    const Settings table[] = {
        {"speed 0 (would hang up the line)", [](DCB& d) { d.BaudRate = 0; }},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"unknown parity", [](DCB& d) { d.Parity = 5; }},
        {"unknown stop bits", [](DCB& d) { d.StopBits = 3; }},
        {"5 data bits, 2 stop bits",
         [](DCB& d) {
             d.ByteSize = 5;
             d.StopBits = TWOSTOPBITS;
         }},
        {"8 data bits, 1.5 stop bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"unknown DTR mode", [](DCB& d) { d.fDtrControl = 3; }},
        {"XON equal to XOFF with XON/XOFF output",
         [](DCB& d) {
             d.fOutX = 1;
             d.XonChar = d.XoffChar = 0x11;
         }},
        {"XON equal to XOFF with XON/XOFF input",
         [](DCB& d) {
             d.fInX = 1;
             d.XonChar = d.XoffChar = 0x13;
         }},
    };
    for (const Settings& settings : table) {
        SCOPED_TRACE(settings.name);
        DCB bad = good;
        settings.change(bad);
        SetLastError(0);
        EXPECT_FALSE(SetCommState(port, &bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        const termios after = pty.settings();
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        EXPECT_EQ(dcb_text(current()), dcb_text(state_before));
    }
    EXPECT_FALSE(SetCommState(port, nullptr));
    EXPECT_FALSE(GetCommState(port, nullptr));
}

TEST_F(CommState, ChangesMadeBehindTheHandleAreReported) {
    DCB dcb = maser_line(opened);
    dcb.XonLim = 77;
    ASSERT_TRUE(SetCommState(port, &dcb));

    // Another program switches the line to 19200 with RTS/CTS and 2 stop bits.
    termios line = pty.settings();
    cfsetospeed(&line, B19200);
    cfsetispeed(&line, B19200);
    line.c_cflag |= CRTSCTS | CSTOPB;
    pty.change_settings(line);

    const DCB seen = current();
    EXPECT_EQ(seen.BaudRate, 19200u);
    EXPECT_EQ(seen.StopBits, TWOSTOPBITS);
    EXPECT_EQ(seen.fOutxCtsFlow, 1u);
    EXPECT_EQ(seen.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(seen.XonLim, 77); // what termios cannot hold is still the handle's
}

} // namespace
