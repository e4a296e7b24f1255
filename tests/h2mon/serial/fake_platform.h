// A recording, fault-injecting stand-in for the system calls of the port class.
//
// While a FakePlatform lives it is the installed call table: every call is
// written to `calls` as one line with its arguments, any call can be made to fail
// with a chosen error number, and the serial line is simulated: bytes arrive at
// chosen times on a simulated millisecond clock that only moves when the port
// waits (an empty ReadFile moves it by up to its read time-out, 10 ms as the
// port sets it, Sleep by its argument).
#pragma once

#include "h2mon/win32/calls.h"
#include "tests/support/dcb.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

class FakePlatform {
public:
    static const HANDLE kPortHandle;
    static const HANDLE kDeviceList;

    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // --- Recording ---
    // One line per call, e.g. "EscapeCommFunction(5)"; see fake_platform.cpp.
    std::vector<std::string> calls;
    // The calls whose line starts with `prefix`.
    std::vector<std::string> calls_to(const std::string& prefix) const;
    // DCBs given to SetCommState, in order.
    std::vector<DCB> states_set;

    // --- Faults ---
    // The next calls of `call` fail in turn with these error numbers (0: that call
    // succeeds); calls after them succeed.
    void fail_next(const std::string& call, std::vector<DWORD> errors);
    // Every call of `call` fails with `error`.
    void fail_always(const std::string& call, DWORD error);
    // The count a failing WriteFile reports as written.
    DWORD written_on_failure = 0;
    // The most bytes a WriteFile takes: the line holds the rest off until the
    // write time-out, and the call succeeds with fewer bytes written.
    DWORD write_takes = MAXDWORD;

    // --- The port ---
    // What GetCommState reports as the port's own settings; at first a port as
    // another program left it.
    DCB port_settings;
    // The port names (without mode string) that port_device_exists finds.
    std::set<std::string> present_devices;
    // What port_hold_back_ms says of the device; at first that it cannot tell.
    LONG hold_back_ms = -1;
    // How long an empty ReadFile waits for a byte: the constant of the time-outs
    // last set.
    DWORD read_timeout_ms = 10;
    // Simulated clock, milliseconds.
    DWORD now = 5000;
    // Bytes that arrive `after_ms` after the current clock value.
    void arrive(DWORD after_ms, const std::string& bytes);
    // Every byte written to the port.
    std::string written;

    // --- Error texts ---
    // The system's texts, by error number; numbers without one have no text.
    std::map<DWORD, std::string> texts;
    // Texts handed out by FormatMessageA and not yet given back to LocalFree.
    int texts_outstanding = 0;

    // --- The device list ---
    struct Device {
        std::string port_name;
        std::string description;
        bool has_key = true;
        DWORD name_type = REG_SZ;
        bool has_description = true;
    };
    std::vector<Device> devices;
    // How many class identifiers "Ports" has; 0 means the class is unknown.
    DWORD port_class_count = 1;
    bool device_list_fails = false;
    int keys_open = 0;

    // --- In-use markers ---
    // Names whose marker exists already (held elsewhere).
    std::set<std::string> markers_elsewhere;
    // Markers created by the port and not yet closed: handle -> name.
    std::map<HANDLE, std::string> markers_held;

    // Implementation: the call that is running asks whether it must fail.
    DWORD planned_error(const std::string& call);
    struct Arrival {
        DWORD at;
        BYTE byte;
    };
    std::deque<Arrival> line;

private:
    PlatformCalls table_;
    const PlatformCalls* previous_table_ = nullptr;
    FakePlatform* previous_fake_ = nullptr;
    std::map<std::string, std::deque<DWORD>> next_errors_;
    std::map<std::string, DWORD> always_errors_;
};
