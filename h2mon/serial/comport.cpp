// COMPORT: construction, opening and closing, control lines, error texts.
#include "h2mon/serial/comport.h"

#include "h2mon/win32/com_name.h"

#include "h2mon/common/text.h"
#include "h2mon/win32/calls.h"
#include "h2mon/win32/device_path.h"

#include <cstring>
#include <new>
#include <string>

namespace {

const PlatformCalls& os() {
    return platform_calls();
}

constexpr DWORD kAccessRetryDelayMs = 1000;
constexpr DWORD kLineSettleMs = 60;
constexpr std::size_t kErrorTextSize = 256;
const char kNoSystemText[] = "Hosed";

// Where the port name ends and a mode string begins, at a colon; npos for no
// mode string. After a COM name everything past the colon is the mode string,
// in either form BuildCommDCB takes ("COM3:9600,n,8,1", "COM3:baud=9600 ..."),
// and a bare "COM3:" is the port itself. A device path may hold colons of its
// own (/dev/serial/by-path/...): a name that is a device whole has no mode
// string, else the mode string starts at the first colon before which the name
// is a device ("/dev/ttyUSB0:9600,n,8,1"). Failing that, the colon splits when
// an "=" follows it somewhere.
std::size_t mode_string_colon(const std::string& name) {
    const std::size_t first = name.find(':');
    if (first == std::string::npos || read_com_name(name.c_str()).length == first) {
        return first;
    }
    if (os().port_device_exists(name.c_str())) {
        return std::string::npos;
    }
    for (std::size_t colon = first; colon != std::string::npos; colon = name.find(':', colon + 1)) {
        if (os().port_device_exists(name.substr(0, colon).c_str())) {
            return colon;
        }
    }
    return name.find('=', first + 1) != std::string::npos ? first : std::string::npos;
}

// Splits "name:mode": the name ends at the colon and the mode string is
// returned, or null for none.
const char* split_mode_string(std::string& name) {
    const std::size_t colon = mode_string_colon(name);
    if (colon == std::string::npos) {
        return nullptr;
    }
    name[colon] = '\0';
    const char* mode = name.c_str() + colon + 1;
    return *mode != '\0' ? mode : nullptr;
}

void trim_trailing_space(char* text) {
    for (std::size_t n = std::strlen(text); n > 0 && is_white_space(text[n - 1]); --n) {
        text[n - 1] = '\0';
    }
}

} // namespace

COMPORT::COMPORT()
    : hCOM(INVALID_HANDLE_VALUE), bDTRCtrl(false), dcb(), dcbSaved(), rxBuf(), nRxBuf(0),
      bValid(true), szPath(), dwLastError(0), hCOMSem(nullptr), pPorts(nullptr),
      pClassGUIDs(nullptr), nClassGUIDs(0), nPorts(0) {
    pPorts = new (std::nothrow) PORTINFO[kMaxPorts]();
    if (pPorts == nullptr) {
        bValid = false;
    }
    pClassGUIDs = new (std::nothrow) GUID[kMaxClassGuids]();
    if (pClassGUIDs == nullptr) {
        bValid = false;
    }
}

COMPORT::~COMPORT() {
    close();
    delete[] pPorts;
    pPorts = nullptr;
    delete[] pClassGUIDs;
    pClassGUIDs = nullptr;
    bValid = false;
}

bool COMPORT::isopen() {
    return hCOM != INVALID_HANDLE_VALUE;
}

DWORD COMPORT::lasterror() {
    dwLastError = os().GetLastError();
    return dwLastError;
}

const char* COMPORT::errortext(DWORD number, bool trim) {
    thread_local char buffer[kErrorTextSize];
    char* text = const_cast<char*>(kNoSystemText);
    const DWORD error = number != 0 ? number : dwLastError;
    os().FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                            FORMAT_MESSAGE_FROM_SYSTEM,
                        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    // A failed call may leave the pointer as it was or set it to null.
    const bool allocated = text != nullptr && text != kNoSystemText;
    const char* source = text != nullptr ? text : kNoSystemText;
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, source, sizeof buffer - 1);
    if (allocated) {
        os().LocalFree(text);
    }
    if (trim) {
        trim_trailing_space(buffer);
    }
    return buffer;
}

void COMPORT::setdtr(bool raise) {
    if (bDTRCtrl && isopen()) {
        os().EscapeCommFunction(hCOM, raise ? SETDTR : CLRDTR);
    }
}

void COMPORT::setrts(bool raise) {
    if (isopen()) {
        os().EscapeCommFunction(hCOM, raise ? SETRTS : CLRRTS);
    }
}

void COMPORT::close() {
    if (!bValid || !isopen()) {
        return;
    }
    os().SetCommState(hCOM, &dcbSaved);
    setdtr(false);
    os().CloseHandle(hCOM);
    hCOM = INVALID_HANDLE_VALUE;
    szPath[0] = '\0';
    release();
}

DWORD COMPORT::fail_and_close() {
    const DWORD error = lasterror();
    close();
    return error;
}

// The maser's line: the given speed and byte size, no parity, one stop bit, no
// flow control of any kind, RTS on. Every other setting stays as the port had it.
void COMPORT::set_line(DWORD baud, BYTE byteSize) {
    dcb = dcbSaved;
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
}

DWORD COMPORT::open(const char* name, DWORD baud, bool dtrControl, bool dtrRaised, BYTE byteSize) {
    if (isopen()) {
        close();
    }
    bDTRCtrl = dtrControl;

    // The mode string is split off first: it does not count against the size of
    // the device path, and a path too long is refused, never cut.
    std::string port_name = name;
    const char* mode = split_mode_string(port_name);
    char path[MAX_PATH] = {};
    if (!port_device_path(port_name.c_str(), path, sizeof path)) {
        return lasterror();
    }
    std::snprintf(szPath, sizeof szPath, "%s", path);

    const auto create = [&path] {
        return os().CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    hCOM = create();
    if (hCOM == INVALID_HANDLE_VALUE) {
        // A port that was just closed by another program can refuse access for a
        // moment: give it one more chance.
        const DWORD error = lasterror();
        if (error != ERROR_ACCESS_DENIED) {
            return error;
        }
        os().Sleep(kAccessRetryDelayMs);
        hCOM = create();
        if (hCOM == INVALID_HANDLE_VALUE) {
            return lasterror();
        }
    }

    os().PurgeComm(hCOM, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    dcbSaved.DCBlength = sizeof(DCB);
    if (!os().GetCommState(hCOM, &dcbSaved)) {
        return fail_and_close();
    }
    dcbSaved.fDtrControl = bDTRCtrl ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;

    // A mode string changes only what it names, so it is applied to the settings
    // a plain open makes: whatever it leaves out (flow control above all: an
    // XON/XOFF left on from the port's own settings would swallow the frame's
    // 0x11 and 0x13 bytes) is the maser's line.
    set_line(baud, byteSize);
    if (mode != nullptr) {
        if (!os().BuildCommDCBA(mode, &dcb)) {
            return fail_and_close(); // a mode string that does not parse
        }
        dcb.fDtrControl = dcbSaved.fDtrControl;
    }
    if (!os().SetCommState(hCOM, &dcb)) {
        return fail_and_close();
    }
    os().Sleep(kLineSettleMs);

    COMMTIMEOUTS timeouts = kPortTimeouts;
    if (!os().SetCommTimeouts(hCOM, &timeouts)) {
        return fail_and_close();
    }
    setdtr(dtrRaised);
    return 0;
}

DWORD COMPORT::setbaud(DWORD baud) {
    if (!isopen()) {
        return 0;
    }
    dcb.BaudRate = baud;
    if (!os().SetCommState(hCOM, &dcb)) {
        return fail_and_close();
    }
    return 0;
}
