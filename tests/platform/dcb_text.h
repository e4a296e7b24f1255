// Every field of a DCB as one line of text, so that two DCBs compare in a single
// assertion whose failure shows exactly which fields differ.
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
