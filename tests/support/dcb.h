// DCBs in tests: one printer, every field as one line of text, so that two DCBs
// compare in a single assertion whose failure shows exactly which fields differ;
// and the named DCBs tests start from.
#pragma once

#include "h2mon/win32/win32.h"

#include <sstream>
#include <string>

inline std::string dcb_text(const DCB& d) {
    std::ostringstream out;
    out << "DCBlength=" << d.DCBlength << " BaudRate=" << d.BaudRate << " fBinary=" << d.fBinary
        << " fParity=" << d.fParity << " fOutxCtsFlow=" << d.fOutxCtsFlow
        << " fOutxDsrFlow=" << d.fOutxDsrFlow << " fDtrControl=" << d.fDtrControl
        << " fDsrSensitivity=" << d.fDsrSensitivity << " fTXContinueOnXoff=" << d.fTXContinueOnXoff
        << " fOutX=" << d.fOutX << " fInX=" << d.fInX << " fErrorChar=" << d.fErrorChar
        << " fNull=" << d.fNull << " fRtsControl=" << d.fRtsControl
        << " fAbortOnError=" << d.fAbortOnError << " fDummy2=" << d.fDummy2
        << " wReserved=" << d.wReserved << " XonLim=" << d.XonLim << " XoffLim=" << d.XoffLim
        << " ByteSize=" << int(d.ByteSize) << " Parity=" << int(d.Parity)
        << " StopBits=" << int(d.StopBits) << " XonChar=" << int(d.XonChar)
        << " XoffChar=" << int(d.XoffChar) << " ErrorChar=" << int(d.ErrorChar)
        << " EofChar=" << int(d.EofChar) << " EvtChar=" << int(d.EvtChar)
        << " wReserved1=" << d.wReserved1;
    return out.str();
}

// A port as another program left it: a line the system accepts (9600 baud, 7
// data bits, even parity, 2 stop bits) on which every field that opening the
// maser's line sets holds another value (flow control of both kinds, RTS and DTR
// handshaking, null stripping, abort on error), and the rest are not zero, so
// that both what opening changes and what it keeps show.
inline DCB dcb_left_by_another_program() {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = 9600;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.StopBits = TWOSTOPBITS;
    d.fParity = 1;
    d.fOutX = 1;
    d.fInX = 1;
    d.fOutxCtsFlow = 1;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fTXContinueOnXoff = 1;
    d.fNull = 1;
    d.fAbortOnError = 1;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.ErrorChar = '?';
    d.EofChar = 0x1a;
    d.EvtChar = '\n';
    return d;
}

// A DCB whose every field differs from what a mode string sets, so that both
// the fields that change and those that must stay show in a comparison. Not a
// line the system accepts (6 data bits with 1.5 stop bits, RTS toggling).
inline DCB dcb_unlike_any_mode() {
    DCB d{};
    d.BaudRate = 4800;
    d.fBinary = 1;
    d.fParity = 1;
    d.fOutxCtsFlow = 1;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fDsrSensitivity = 1;
    d.fTXContinueOnXoff = 1;
    d.fOutX = 1;
    d.fErrorChar = 1;
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    d.fAbortOnError = 1;
    d.wReserved = 7;
    d.XonLim = 1;
    d.XoffLim = 2;
    d.ByteSize = 6;
    d.Parity = MARKPARITY;
    d.StopBits = ONE5STOPBITS;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.ErrorChar = '?';
    d.EofChar = 0x1a;
    d.EvtChar = '\n';
    d.wReserved1 = 9;
    return d;
}
