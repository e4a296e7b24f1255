// The DCB <-> kernel line-settings mapping where a pseudo-terminal cannot show
// it (data bits and parity, which its driver does not keep), and SetCommState
// against drivers that quietly adjust settings their hardware cannot do.
#include "h2mon/win32/win32.h"
#include "h2mon/win32/posix/dcb_termios.h"
#include "h2mon/win32/posix/serial_port.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

DCB framing(BYTE byte_size, BYTE parity, BYTE stop_bits) {
    DCB dcb{};
    dcb.BaudRate = 9600;
    dcb.ByteSize = byte_size;
    dcb.Parity = parity;
    dcb.StopBits = stop_bits;
    return dcb;
}

TEST(DcbTermios, FramingMapsToTheTermiosBitsAndBack) {
    struct Case {
        DCB dcb;
        tcflag_t bits; // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
    };
    const Case cases[] = {
        {framing(8, NOPARITY, ONESTOPBIT), CS8},
        {framing(7, EVENPARITY, ONESTOPBIT), CS7 | PARENB},
        {framing(8, ODDPARITY, TWOSTOPBITS), CS8 | PARENB | PARODD | CSTOPB},
        {framing(8, MARKPARITY, ONESTOPBIT), CS8 | PARENB | CMSPAR | PARODD},
        {framing(6, SPACEPARITY, TWOSTOPBITS), CS6 | PARENB | CMSPAR | CSTOPB},
        {framing(5, NOPARITY, ONE5STOPBITS), CS5 | CSTOPB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.dcb.ByteSize) << " bits, parity "
                                          << int(c.dcb.Parity) << ", stop " << int(c.dcb.StopBits));
        termios2 line{};
        line.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB; // leftovers must go
        apply_dcb_to_line(c.dcb, line);
        EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.bits);

        const DCB back = dcb_from_line(line, DCB{});
        EXPECT_EQ(back.ByteSize, c.dcb.ByteSize);
        EXPECT_EQ(back.Parity, c.dcb.Parity);
        EXPECT_EQ(back.StopBits, c.dcb.StopBits);
    }
}

TEST(DcbTermios, StandardRatesUseTheirCodesAndOthersTheArbitraryRate) {
    termios2 line{};
    line.c_cflag = B38400 | (B50 << IBSHIFT); // a separate input speed must go
    DCB dcb = framing(8, NOPARITY, ONESTOPBIT);
    apply_dcb_to_line(dcb, line);
    EXPECT_EQ(line.c_cflag & (CBAUD | CIBAUD), static_cast<tcflag_t>(B9600));

    dcb.BaudRate = 12345;
    apply_dcb_to_line(dcb, line);
    EXPECT_EQ(line.c_cflag & (CBAUD | CIBAUD), static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(line.c_ospeed, 12345u);
    EXPECT_EQ(line_speed(line), 12345u);
}

// A pseudo-terminal whose slave the port opens; the master only keeps it alive.
class AdjustingDriver : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        port = CreateFileA(ptsname(master), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = 9600;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        ASSERT_TRUE(SetCommState(port, &dcb));
    }
    void TearDown() override {
        set_line_settings_filter(nullptr);
        CloseHandle(port);
        close(master);
    }

    // Asks for `wanted` and expects it refused with the line left as it was.
    void expect_refused(const DCB& wanted) {
        termios2 before{};
        ASSERT_TRUE(read_line_settings(fd_of_port(), before));
        DCB asked = wanted;
        EXPECT_FALSE(SetCommState(port, &asked));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        termios2 after{};
        ASSERT_TRUE(read_line_settings(fd_of_port(), after));
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(after.c_ospeed, before.c_ospeed);
        DCB state{};
        ASSERT_TRUE(GetCommState(port, &state));
        EXPECT_EQ(state.BaudRate, dcb.BaudRate);
        EXPECT_EQ(state.Parity, dcb.Parity);
    }

    int fd_of_port() { return serial_port_from_handle(port)->fd(); }

    int master = -1;
    HANDLE port = INVALID_HANDLE_VALUE;
    DCB dcb{};
};

TEST_F(AdjustingDriver, DroppedMarkParityIsRefused) {
    set_line_settings_filter([](termios2& line) { line.c_cflag &= ~CMSPAR; });
    DCB mark = dcb;
    mark.Parity = MARKPARITY;
    expect_refused(mark);
}

TEST_F(AdjustingDriver, SpeedBeyondTheHardwareIsRefused) {
    set_line_settings_filter([](termios2& line) {
        if (line_speed(line) > 115200) {
            line.c_cflag = (line.c_cflag & ~CBAUD) | B115200;
            line.c_ospeed = line.c_ispeed = 115200;
        }
    });
    DCB fast = dcb;
    fast.BaudRate = 1000000;
    expect_refused(fast);

    DCB fastest_supported = dcb;
    fastest_supported.BaudRate = 115200;
    EXPECT_TRUE(SetCommState(port, &fastest_supported));
}

TEST_F(AdjustingDriver, RateRoundedToTheNearestDivisorIsAccepted) {
    set_line_settings_filter([](termios2& line) {
        if ((line.c_cflag & CBAUD) == BOTHER) {
            line.c_ospeed = line.c_ispeed = line.c_ospeed / 100 * 100;
        }
    });
    DCB odd_rate = dcb;
    odd_rate.BaudRate = 12345;
    EXPECT_TRUE(SetCommState(port, &odd_rate));
}

} // namespace
