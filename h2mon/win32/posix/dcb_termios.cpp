#include "h2mon/win32/posix/dcb_termios.h"

namespace {

struct StandardSpeed {
    tcflag_t code;
    DWORD rate;
};

// Rates with a termios code of their own. Other rates are set through BOTHER;
// using the codes where they exist keeps the line readable by programs that only
// know the classic termios interface.
constexpr StandardSpeed kStandardSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

constexpr tcflag_t kDataBits[] = {CS5, CS6, CS7, CS8};

// Framing and flow-control bits a driver may quietly change.
constexpr tcflag_t kDataBitsAndParity = CSIZE | PARENB;
constexpr tcflag_t kOtherFramingBits = PARODD | CMSPAR | CSTOPB | CRTSCTS;

// A UART samples within a few per cent of the nominal rate; a driver that
// rounds to its nearest divisor stays well inside this.
constexpr DWORD kSpeedTolerancePercent = 3;

void set_flag(tcflag_t& flags, tcflag_t bits, bool on) {
    flags = on ? (flags | bits) : (flags & ~bits);
}

tcflag_t parity_bits(BYTE parity) {
    switch (parity) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
    case MARKPARITY:
        return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

BYTE parity_from_line(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) {
        return NOPARITY;
    }
    const bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) {
        return odd ? MARKPARITY : SPACEPARITY;
    }
    return odd ? ODDPARITY : EVENPARITY;
}

void set_speed(DWORD rate, termios2& line) {
    tcflag_t code = BOTHER;
    for (const StandardSpeed& speed : kStandardSpeeds) {
        if (speed.rate == rate) {
            code = speed.code;
        }
    }
    // Input speed bits of 0 make the input speed follow the output speed.
    line.c_cflag &= ~(CBAUD | CIBAUD);
    line.c_cflag |= code;
    line.c_ispeed = rate;
    line.c_ospeed = rate;
}

void make_raw(termios2& line) {
    line.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                      IXANY | IMAXBEL | IUTF8);
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // CLOCAL: a missing carrier must neither block nor hang up the port.
    line.c_cflag |= CREAD | CLOCAL;
    // Reads return at once with what is there; waiting is done with poll.
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
}

void apply_framing(const DCB& dcb, termios2& line) {
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    line.c_cflag |= kDataBits[dcb.ByteSize - 5] | parity_bits(dcb.Parity);
    // With five data bits the UART sends one and a half stop bits for CSTOPB.
    set_flag(line.c_cflag, CSTOPB, dcb.StopBits != ONESTOPBIT);
    set_flag(line.c_iflag, INPCK, dcb.fParity != 0);
}

void apply_flow_control(const DCB& dcb, termios2& line) {
    // Linux has one switch for both RTS/CTS directions.
    set_flag(line.c_cflag, CRTSCTS,
             dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    set_flag(line.c_iflag, IXON, dcb.fOutX != 0);
    set_flag(line.c_iflag, IXOFF, dcb.fInX != 0);
    line.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    line.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
}

BYTE byte_size_from_line(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

// CRTSCTS stands for both the CTS output check and RTS handshaking. The DCB
// last applied says which of the two was asked for; when the line no longer
// matches it (another program changed it), the line's state decides.
void hardware_flow_from_line(tcflag_t cflag, DCB& dcb) {
    const bool remembered_on = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    const bool line_on = (cflag & CRTSCTS) != 0;
    if (line_on == remembered_on) {
        return;
    }
    dcb.fOutxCtsFlow = line_on ? 1 : 0;
    dcb.fRtsControl = line_on ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

} // namespace

bool dcb_is_acceptable(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE) {
        return false;
    }
    if ((dcb.ByteSize == 5 && dcb.StopBits == TWOSTOPBITS) ||
        (dcb.ByteSize > 5 && dcb.StopBits == ONE5STOPBITS)) {
        return false;
    }
    const bool software_flow = dcb.fOutX != 0 || dcb.fInX != 0;
    return !(software_flow && dcb.XonChar == dcb.XoffChar);
}

void apply_dcb_to_line(const DCB& dcb, termios2& line) {
    make_raw(line);
    set_speed(dcb.BaudRate, line);
    apply_framing(dcb, line);
    apply_flow_control(dcb, line);
}

DWORD line_speed(const termios2& line) {
    const tcflag_t code = line.c_cflag & CBAUD;
    if (code == BOTHER) {
        return line.c_ospeed;
    }
    for (const StandardSpeed& speed : kStandardSpeeds) {
        if (speed.code == code) {
            return speed.rate;
        }
    }
    return 0;
}

DCB dcb_from_line(const termios2& line, const DCB& remembered) {
    DCB dcb = remembered;
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.BaudRate = line_speed(line);
    dcb.ByteSize = byte_size_from_line(line.c_cflag);
    dcb.Parity = parity_from_line(line.c_cflag);
    if ((line.c_cflag & CSTOPB) == 0) {
        dcb.StopBits = ONESTOPBIT;
    } else {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb.fParity = (line.c_iflag & INPCK) != 0 ? 1 : 0;
    dcb.fOutX = (line.c_iflag & IXON) != 0 ? 1 : 0;
    dcb.fInX = (line.c_iflag & IXOFF) != 0 ? 1 : 0;
    dcb.XonChar = static_cast<char>(line.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(line.c_cc[VSTOP]);
    hardware_flow_from_line(line.c_cflag, dcb);
    return dcb;
}

bool line_matches(const termios2& wanted, const termios2& actual, bool check_data_bits) {
    const tcflag_t compared = kOtherFramingBits | (check_data_bits ? kDataBitsAndParity : 0);
    if ((wanted.c_cflag & compared) != (actual.c_cflag & compared)) {
        return false;
    }
    const unsigned long long want = line_speed(wanted);
    const unsigned long long got = line_speed(actual);
    const unsigned long long difference = want > got ? want - got : got - want;
    return difference * 100 <= want * kSpeedTolerancePercent;
}
