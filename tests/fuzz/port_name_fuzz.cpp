// Feeds arbitrary port names to COMPORT::open: the split of a name into device
// path and mode string, and the mode string's parsing by BuildCommDCBA.
//
// open runs against a table of system calls that touches no device: the devices
// present are those whose name ends in "0", CreateFileA records the path it is
// given and hands out a made-up handle, BuildCommDCBA records its mode string and
// runs the real parser, SetCommState records the line settings. The checks
// compare what open did with what the name asked for.
//
// Input: bytes 0-3 the baud rate (little-endian), byte 4 the DTR flags (bit 0:
// DTR control, bit 1: DTR raised) and bit 2: open the port a second time with the
// same name; the rest is the name, up to its first NUL.
#include "h2mon/win32/calls.h"
#include "h2mon/win32/com_name.h"
#include "h2mon/win32/posix/errno_map.h"
#include "h2mon/serial/comport.h"
#include "tests/support/dcb.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const HANDLE kFakePort = reinterpret_cast<HANDLE>(0x5150);
constexpr std::size_t kHeader = 5;

// What the fake calls saw during one open.
struct Seen {
    int creates = 0;
    std::string path;
    int builds = 0;
    std::string mode;
    BOOL built = FALSE;
    int states = 0;
    DCB state{};      // the settings open gave the line
    DCB last_state{}; // the latest settings given, by open or close
    bool open_handle = false;
} seen;

void expect(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "port_name_fuzz: %s\n", what);
        std::abort();
    }
}

HANDLE WINAPI fake_CreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                               HANDLE) {
    ++seen.creates;
    seen.path = path;
    seen.open_handle = true;
    return kFakePort;
}

BOOL WINAPI fake_CloseHandle(HANDLE handle) {
    expect(handle == kFakePort && seen.open_handle, "a handle closed that is not open");
    seen.open_handle = false;
    return TRUE;
}

BOOL WINAPI fake_GetCommState(HANDLE, LPDCB dcb) {
    *dcb = dcb_left_by_another_program();
    return TRUE;
}

BOOL WINAPI fake_SetCommState(HANDLE, LPDCB dcb) {
    seen.last_state = *dcb;
    if (seen.creates > 0) { // not the close that a second open starts with
        ++seen.states;
        seen.state = *dcb;
    }
    return TRUE;
}

BOOL WINAPI recording_BuildCommDCBA(LPCSTR mode, LPDCB dcb) {
    ++seen.builds;
    seen.mode = mode;
    seen.built = ::BuildCommDCBA(mode, dcb);
    return seen.built;
}

BOOL WINAPI succeed_timeouts(HANDLE, LPCOMMTIMEOUTS) {
    return TRUE;
}
BOOL WINAPI succeed_purge(HANDLE, DWORD) {
    return TRUE;
}
BOOL WINAPI succeed_escape(HANDLE, DWORD) {
    return TRUE;
}
void WINAPI no_sleep(DWORD) {}
// The devices present: those whose name ends in "0" (ttyUSB0, ...-port0).
bool present(const std::string& name) {
    return !name.empty() && name.back() == '0';
}
BOOL WINAPI named_device_exists(LPCSTR name) {
    return present(name) ? TRUE : FALSE;
}

PlatformCalls deviceless_calls() {
    PlatformCalls calls = system_platform_calls();
    calls.CreateFileA = fake_CreateFileA;
    calls.port_device_exists = named_device_exists;
    calls.CloseHandle = fake_CloseHandle;
    calls.GetCommState = fake_GetCommState;
    calls.SetCommState = fake_SetCommState;
    calls.BuildCommDCBA = recording_BuildCommDCBA;
    calls.SetCommTimeouts = succeed_timeouts;
    calls.PurgeComm = succeed_purge;
    calls.EscapeCommFunction = succeed_escape;
    calls.Sleep = no_sleep;
    return calls;
}

// The port's own settings with the DTR control open chose: what close puts back.
DCB own_settings(bool dtr_control) {
    DCB own = dcb_left_by_another_program();
    own.fDtrControl = dtr_control ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    return own;
}

bool same_dcb(const DCB& a, const DCB& b) {
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

// The line settings open gave the port, judged against what the name asked for.
void check_line(const DCB& given, DWORD baud, bool dtr_control) {
    const DWORD dtr = dtr_control ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    expect(given.fDtrControl == dtr, "DTR control is not the one asked for");
    if (seen.builds == 0) {
        expect(given.BaudRate == baud && given.ByteSize == 8 && given.Parity == NOPARITY &&
                   given.StopBits == ONESTOPBIT && given.fOutX == 0 && given.fInX == 0 &&
                   given.fRtsControl == RTS_CONTROL_ENABLE,
               "without a mode string the line is not the maser's");
        return;
    }
    expect(given.ByteSize >= 5 && given.ByteSize <= 8, "data bits out of range");
    expect(given.Parity <= SPACEPARITY, "parity out of range");
    expect(given.StopBits <= TWOSTOPBITS, "stop bits out of range");
}

// Where the port name ends, at a colon: after a COM name; else nowhere when the
// whole name is a device present, or at the first colon before which the name
// is one, or, failing that, when an '=' follows the colon. What follows the
// colon is the mode string.
std::size_t name_end(const std::string& name) {
    const std::size_t first = name.find(':');
    if (first == std::string::npos || read_com_name(name.c_str()).length == first) {
        return first;
    }
    if (present(name)) {
        return std::string::npos;
    }
    for (std::size_t colon = first; colon != std::string::npos; colon = name.find(':', colon + 1)) {
        if (present(name.substr(0, colon))) {
            return colon;
        }
    }
    return name.find('=', first + 1) != std::string::npos ? first : std::string::npos;
}

std::string expected_path(const std::string& name, std::string* mode) {
    const std::string prefix = name[0] == '/' ? "" : "/dev/";
    const std::size_t colon = name_end(name);
    if (colon == std::string::npos) {
        return prefix + name;
    }
    *mode = name.substr(colon + 1);
    return prefix + name.substr(0, colon);
}

void check_open(COMPORT& port, const std::string& name, DWORD result, DWORD baud,
                bool dtr_control) {
    std::string mode;
    const std::string path = expected_path(name, &mode);
    if (path.size() >= MAX_PATH) {
        // A path that does not fit is refused, never cut to another device's name;
        // the mode string does not count.
        expect(result == (0x20000000u | ENAMETOOLONG) && seen.creates == 0 && !port.isopen(),
               "an overlong name was not refused before opening");
        return;
    }
    expect(seen.creates == 1, "the device was not opened exactly once");
    expect(seen.path == path, "CreateFileA was given another path");
    const bool has_mode = !mode.empty();
    expect(seen.builds == (has_mode ? 1 : 0), "the mode string was not parsed exactly once");
    expect(!has_mode || seen.mode == mode, "BuildCommDCBA was given another mode string");
    if (has_mode && !seen.built) {
        // A mode string that does not parse fails the open, with an error to
        // show, and the port gets its own settings back.
        expect(result != 0 && !port.isopen() && !seen.open_handle,
               "a rejected mode string did not fail the open");
        expect(same_dcb(seen.last_state, own_settings(dtr_control)),
               "a rejected mode string left the port's settings changed");
        return;
    }
    expect(result == 0 && port.isopen(), "a port that opens was not open");
    expect(path == port.szPath, "szPath is not the device path");
    expect(seen.states == 1, "the line was not set exactly once");
    check_line(seen.state, baud, dtr_control);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size <= kHeader) {
        return 0;
    }
    DWORD baud = 0;
    std::memcpy(&baud, data, sizeof baud);
    const bool dtr_control = (data[4] & 1) != 0;
    const bool dtr_raised = (data[4] & 2) != 0;
    const bool reopen = (data[4] & 4) != 0;
    const std::string name(reinterpret_cast<const char*>(data + kHeader),
                           strnlen(reinterpret_cast<const char*>(data + kHeader), size - kHeader));
    if (name.empty()) {
        return 0;
    }

    static const PlatformCalls calls = deviceless_calls();
    install_platform_calls(calls);
    {
        COMPORT port;
        for (int round = 0; round < (reopen ? 2 : 1); ++round) {
            // The handle of the first round stays open until the second open closes it.
            const bool handle_open = seen.open_handle;
            seen = Seen{};
            seen.open_handle = handle_open;
            const DWORD result = port.open(name.c_str(), baud, dtr_control, dtr_raised, 8);
            check_open(port, name, result, baud, dtr_control);
        }
        const bool was_open = port.isopen();
        port.close();
        expect(!port.isopen() && !seen.open_handle, "close left the handle open");
        expect(!was_open || same_dcb(seen.last_state, own_settings(dtr_control)),
               "close did not put the port's own settings back");
    }
    restore_platform_calls();
    return 0;
}
