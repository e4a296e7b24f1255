// DCBs for tests of BuildCommDCBA: every field as one line of text, so that two
// DCBs compare in a single assertion whose failure shows exactly which fields
// differ, and a starting DCB on which every change shows.
#pragma once

#include "platform/win32.h"

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

// A DCB whose every field differs from what a mode string sets, so that both
// the fields that change and those that must stay show in a comparison.
inline DCB busy_dcb() {
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
