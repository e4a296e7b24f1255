// Opening, configuring and closing a port, its control lines and error texts,
// seen through the calls the port makes to the system.
#include "h2mon/serial/comport.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "h2mon/win32/posix/errno_map.h"

#include <cerrno>
#endif

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

std::string device(const std::string& name) {
#ifdef _WIN32
    return "\\\\.\\" + name;
#else
    return "/dev/" + name;
#endif
}

std::string create_call(const std::string& path) {
    return "CreateFileA(" + path + ", 0xc0000000, 0, null, 3, 0x80, null)";
}

const std::string kDcbSize = std::to_string(sizeof(DCB));
const std::string kTimeouts = "SetCommTimeouts(0xffffffff, 0xffffffff, 10, 10, 500)";

// What the maser's line needs: the speed and data bits asked for, no parity, one
// stop bit; binary, with no byte replaced or dropped and no abort on an error;
// no flow control of any kind, and RTS on.
void expect_maser_line(const DCB& line, DWORD baud, BYTE data_bits) {
    EXPECT_EQ(line.BaudRate, baud);
    EXPECT_EQ(line.ByteSize, data_bits);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
    EXPECT_EQ(line.fBinary, 1u);
    EXPECT_EQ(line.fErrorChar, 0u);
    EXPECT_EQ(line.fNull, 0u);
    EXPECT_EQ(line.fAbortOnError, 0u);
    EXPECT_EQ(line.fOutxCtsFlow, 0u);
    EXPECT_EQ(line.fOutxDsrFlow, 0u);
    EXPECT_EQ(line.fDsrSensitivity, 0u);
    EXPECT_EQ(line.fOutX, 0u);
    EXPECT_EQ(line.fInX, 0u);
    EXPECT_EQ(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
}

// `dcb` without the fields the maser's line (and its DTR control) decides: what
// must stay as the port had it.
DCB without_line_fields(DCB dcb) {
    dcb.BaudRate = 0;
    dcb.ByteSize = dcb.Parity = dcb.StopBits = 0;
    dcb.fBinary = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = 0;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = dcb.fOutX = dcb.fInX = 0;
    dcb.fRtsControl = dcb.fDtrControl = 0;
    return dcb;
}

class ComportOpenTest : public ::testing::Test {
protected:
    FakePlatform fake;
    COMPORT port;

    // The port's own settings as open keeps them for close: DTR control as chosen.
    DCB saved_settings(bool dtrControl) const {
        DCB saved = fake.port_settings;
        saved.fDtrControl = dtrControl ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        return saved;
    }
};

TEST_F(ComportOpenTest, PlainOpenConfiguresTheLineInOrder) {
    ASSERT_EQ(port.open("COM3", 19200, true, true, 8), 0u);

    EXPECT_TRUE(port.isopen());
    EXPECT_EQ(fake.calls, (Calls{create_call(device("COM3")), "PurgeComm(0xf)",
                                 "GetCommState(" + kDcbSize + ")", "SetCommState(19200)",
                                 "Sleep(60)", kTimeouts, "EscapeCommFunction(5)"}));
    EXPECT_STREQ(port.szPath, device("COM3").c_str());

    ASSERT_EQ(fake.states_set.size(), 1u);
    const DCB& line = fake.states_set[0];
    expect_maser_line(line, 19200, 8);
    EXPECT_EQ(line.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb_text(without_line_fields(line)),
              dcb_text(without_line_fields(fake.port_settings)));
    EXPECT_EQ(dcb_text(port.dcb), dcb_text(line));
    EXPECT_EQ(dcb_text(port.dcbSaved), dcb_text(saved_settings(true)));
}

TEST_F(ComportOpenTest, DtrControlDecidesTheDtrLine) {
    struct Case {
        bool control;
        bool raise;
        DWORD dcb_dtr;
        Calls escapes;
    };
    const Case cases[] = {
        {true, true, DTR_CONTROL_ENABLE, {"EscapeCommFunction(5)"}},
        {true, false, DTR_CONTROL_ENABLE, {"EscapeCommFunction(6)"}},
        {false, true, DTR_CONTROL_DISABLE, {}},
        {false, false, DTR_CONTROL_DISABLE, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.control) + std::to_string(c.raise));
        FakePlatform fresh;
        COMPORT p;
        ASSERT_EQ(p.open("COM3", 9600, c.control, c.raise, 8), 0u);
        EXPECT_EQ(fresh.calls_to("EscapeCommFunction"), c.escapes);
        EXPECT_EQ(fresh.states_set.at(0).fDtrControl, c.dcb_dtr);
        EXPECT_EQ(p.dcbSaved.fDtrControl, c.dcb_dtr);
    }
}

TEST_F(ComportOpenTest, ModeStringChangesOnlyWhatItNamesFromThePlainOpenSettings) {
    ASSERT_EQ(port.open("COM3:baud=4800 parity=N data=6 stop=1", 115200, true, false, 7), 0u);

    EXPECT_EQ(fake.calls_to("CreateFileA"), Calls{create_call(device("COM3"))});
    EXPECT_EQ(fake.calls_to("BuildCommDCBA"),
              Calls{"BuildCommDCBA(baud=4800 parity=N data=6 stop=1)"});
    EXPECT_STREQ(port.szPath, device("COM3").c_str());

    // Only what the mode string names changes (this fake knows baud and data), on
    // top of what a plain open sets: the port's own flow control stays off, and
    // even a first open hands the system a complete record.
    ASSERT_EQ(fake.states_set.size(), 1u);
    const DCB& line = fake.states_set[0];
    expect_maser_line(line, 4800, 6);
    EXPECT_EQ(dcb_text(without_line_fields(line)),
              dcb_text(without_line_fields(fake.port_settings)));
}

TEST_F(ComportOpenTest, AModeStringThatDoesNotParseFailsTheOpen) {
    fake.fail_next("BuildCommDCBA", {ERROR_INVALID_PARAMETER});
    EXPECT_EQ(port.open("COM3:baud=9600 parity=X", 9600, true, true, 8),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(port.isopen());
    EXPECT_EQ(fake.calls_to("CloseHandle"), Calls{"CloseHandle(port)"});
    EXPECT_TRUE(fake.calls_to("SetCommTimeouts").empty());
}

// After a COM name the colon always ends the name: what follows is a mode
// string in either form, or nothing. After a device path, a colon without
// settings after it is part of the path.
// A colon after a COM name ends the name, in either mode form. After another
// name it ends the name where the name before it is a device present (device
// paths may hold colons: /dev/serial/by-path/...); failing that, the whole name
// is the port unless an "=" follows the colon.
TEST_F(ComportOpenTest, AColonEndsTheNameAfterAComNameOrADevicePresent) {
    const std::string by_path = "pci-0000:00:14.0-usb-0:2:1.0-port0";
    const struct {
        std::string name;
        std::set<std::string> present;
        std::string port; // its device path is given to CreateFileA
        Calls build;      // calls to BuildCommDCBA
    } cases[] = {
        {"COM3:", {}, "COM3", {}},
        {"COM3:9600,n,8,1", {}, "COM3", {"BuildCommDCBA(9600,n,8,1)"}},
        {"com12:96,n,8,1", {}, "com12", {"BuildCommDCBA(96,n,8,1)"}},
        {"ttyS0:9600", {}, "ttyS0:9600", {}},
        {"ttyS0:9600,n,8,1", {"ttyS0"}, "ttyS0", {"BuildCommDCBA(9600,n,8,1)"}},
        {by_path, {by_path}, by_path, {}},
        {by_path + ":4800,n,8,1", {by_path}, by_path, {"BuildCommDCBA(4800,n,8,1)"}},
        {by_path + ":baud=4800", {by_path}, by_path, {"BuildCommDCBA(baud=4800)"}},
        {by_path + ":baud=4800",
         {},
         "pci-0000",
         {"BuildCommDCBA(00:14.0-usb-0:2:1.0-port0:baud=4800)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        fresh.present_devices = c.present;
        COMPORT p;
        ASSERT_EQ(p.open(c.name.c_str(), 9600, true, true, 8), 0u);
        EXPECT_EQ(fresh.calls_to("CreateFileA"), Calls{create_call(device(c.port))});
        EXPECT_EQ(fresh.calls_to("BuildCommDCBA"), c.build);
    }
}

// The longest device path and the error for a longer one.
#ifdef _WIN32
constexpr std::size_t kLongestDevicePath = 63;
const DWORD kPathTooLong = ERROR_FILENAME_EXCED_RANGE;
#else
constexpr std::size_t kLongestDevicePath = MAX_PATH - 1;
const DWORD kPathTooLong = win32_error_from_errno(ENAMETOOLONG);
#endif

TEST_F(ComportOpenTest, DevicePathIsUsedWholeOrRefusedAndTheModeStringDoesNotCount) {
    const std::string longest(kLongestDevicePath - device("").size(), 'x');
    const std::string mode = "baud=19200 parity=N data=8 stop=1 xon=off odsr=off octs=off";
    struct Case {
        std::string name;
        std::string path; // given to CreateFileA; empty when refused
        std::string mode; // given to BuildCommDCBA
    };
    const Case cases[] = {
        {"COM3:" + mode, device("COM3"), mode},
        {longest + ":" + mode + std::string(200, ' '), device(longest),
         mode + std::string(200, ' ')},
        {longest + "y", "", ""},
        {longest + "y:" + mode, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fresh;
        COMPORT p;
        const DWORD error = p.open(c.name.c_str(), 9600, true, true, 8);
        if (c.path.empty()) {
            EXPECT_EQ(error, kPathTooLong);
            EXPECT_EQ(p.dwLastError, kPathTooLong);
            EXPECT_FALSE(p.isopen());
            EXPECT_EQ(fresh.calls, Calls{});
            continue;
        }
        ASSERT_EQ(error, 0u);
        EXPECT_EQ(fresh.calls_to("CreateFileA"), Calls{create_call(c.path)});
        EXPECT_EQ(fresh.calls_to("BuildCommDCBA"), Calls{"BuildCommDCBA(" + c.mode + ")"});
    }
}

#ifndef _WIN32
TEST_F(ComportOpenTest, FullDevicePathsAreUsedWhole) {
    const std::string by_id =
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" + std::string(100, 'x');
    ASSERT_EQ(port.open(by_id.c_str(), 9600, true, true, 8), 0u);
    EXPECT_EQ(fake.calls_to("CreateFileA"), Calls{create_call(by_id)});
}

TEST_F(ComportOpenTest, PlainNamesAreLookedUpUnderDev) {
    ASSERT_EQ(port.open("ttyUSB0", 9600, true, true, 8), 0u);
    EXPECT_EQ(fake.calls_to("CreateFileA"), Calls{create_call("/dev/ttyUSB0")});
}
#endif

TEST_F(ComportOpenTest, AccessDeniedIsRetriedOnceAfterASecond) {
    struct Case {
        std::vector<DWORD> errors; // of the CreateFileA calls in turn
        DWORD result;
        Calls calls_until_configuration;
    };
    const std::string create = create_call(device("COM3"));
    const Case cases[] = {
        {{ERROR_ACCESS_DENIED}, 0, {create, "Sleep(1000)", create, "PurgeComm(0xf)"}},
        {{ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND},
         ERROR_FILE_NOT_FOUND,
         {create, "Sleep(1000)", create}},
        {{ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
         ERROR_ACCESS_DENIED,
         {create, "Sleep(1000)", create}},
        {{ERROR_FILE_NOT_FOUND}, ERROR_FILE_NOT_FOUND, {create}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        FakePlatform fresh;
        COMPORT p;
        fresh.fail_next("CreateFileA", c.errors);
        EXPECT_EQ(p.open("COM3", 9600, true, true, 8), c.result);
        const std::size_t n = c.calls_until_configuration.size();
        ASSERT_GE(fresh.calls.size(), n);
        EXPECT_EQ(Calls(fresh.calls.begin(), fresh.calls.begin() + n), c.calls_until_configuration);
        EXPECT_EQ(p.isopen(), c.result == 0);
        EXPECT_EQ(p.dwLastError, c.result == 0 ? ERROR_ACCESS_DENIED : c.result);
        EXPECT_STREQ(p.szPath, device("COM3").c_str());
    }
}

TEST_F(ComportOpenTest, ConfigurationFailuresCloseThePortAndReportTheError) {
    const DWORD kError = 31; // ERROR_GEN_FAILURE
    for (const char* call : {"GetCommState", "SetCommState", "SetCommTimeouts"}) {
        SCOPED_TRACE(call);
        FakePlatform fresh;
        COMPORT p;
        fresh.fail_next(call, {kError});
        EXPECT_EQ(p.open("COM3", 9600, true, true, 8), kError);
        EXPECT_FALSE(p.isopen());
        EXPECT_EQ(p.dwLastError, kError);
        EXPECT_STREQ(p.szPath, "");
        // close puts back what it saved and lowers DTR before the handle goes.
        const Calls tail(fresh.calls.end() - 3, fresh.calls.end());
        EXPECT_EQ(tail[0].rfind("SetCommState(", 0), 0u) << tail[0];
        EXPECT_EQ(tail[1], "EscapeCommFunction(6)");
        EXPECT_EQ(tail[2], "CloseHandle(port)");
        EXPECT_EQ(dcb_text(fresh.states_set.back()), dcb_text(p.dcbSaved));
    }
}

TEST_F(ComportOpenTest, CloseRestoresTheSavedSettingsLowersDtrAndForgetsThePath) {
    ASSERT_EQ(port.open("COM3", 19200, true, true, 8), 0u);
    fake.calls.clear();
    port.close();
    EXPECT_EQ(fake.calls,
              (Calls{"SetCommState(9600)", "EscapeCommFunction(6)", "CloseHandle(port)"}));
    EXPECT_EQ(dcb_text(fake.states_set.back()), dcb_text(saved_settings(true)));
    EXPECT_FALSE(port.isopen());
    EXPECT_STREQ(port.szPath, "");

    fake.calls.clear();
    port.close();
    COMPORT never_opened;
    never_opened.close();
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(ComportOpenTest, CloseLeavesDtrAloneWithoutDtrControl) {
    ASSERT_EQ(port.open("COM3", 19200, false, true, 8), 0u);
    fake.calls.clear();
    port.close();
    EXPECT_EQ(fake.calls, (Calls{"SetCommState(9600)", "CloseHandle(port)"}));
}

TEST_F(ComportOpenTest, OpenOnAnOpenPortClosesItFirst) {
    ASSERT_EQ(port.open("COM3", 19200, true, true, 8), 0u);
    fake.calls.clear();
    ASSERT_EQ(port.open("COM4", 19200, true, true, 8), 0u);
    ASSERT_GE(fake.calls.size(), 4u);
    EXPECT_EQ(Calls(fake.calls.begin(), fake.calls.begin() + 4),
              (Calls{"SetCommState(9600)", "EscapeCommFunction(6)", "CloseHandle(port)",
                     create_call(device("COM4"))}));
}

TEST_F(ComportOpenTest, ControlLinesActOnlyOnAnOpenPort) {
    port.setdtr(true);
    port.setrts(true);
    EXPECT_TRUE(fake.calls.empty());

    ASSERT_EQ(port.open("COM3", 9600, false, false, 8), 0u);
    fake.calls.clear();
    port.setdtr(true); // DTR control off: nothing
    port.setrts(true);
    port.setrts(false);
    EXPECT_EQ(fake.calls, (Calls{"EscapeCommFunction(3)", "EscapeCommFunction(4)"}));
}

TEST_F(ComportOpenTest, SetbaudChangesOnlyTheSpeed) {
    EXPECT_EQ(port.setbaud(4800), 0u);
    EXPECT_TRUE(fake.calls.empty());

    ASSERT_EQ(port.open("COM3", 9600, true, true, 8), 0u);
    EXPECT_EQ(port.setbaud(57600), 0u);
    DCB expected = fake.states_set.front();
    expected.BaudRate = 57600;
    EXPECT_EQ(dcb_text(fake.states_set.back()), dcb_text(expected));
    EXPECT_TRUE(port.isopen());

    fake.fail_next("SetCommState", {ERROR_GEN_FAILURE});
    EXPECT_EQ(port.setbaud(115200), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_FALSE(port.isopen());
}

class ErrortextTest : public ComportOpenTest {};

TEST_F(ErrortextTest, SystemTextIsCopiedTrimmedOnRequestAndReleased) {
    fake.texts[2] = "The system cannot find the file specified.\r\n";
    fake.texts[77] = "Tabs and spaces \t \v\f\r\n";
    fake.texts[78] = std::string(300, 'x') + "\r\n";
    fake.texts[79] = " \r\n";
    struct Case {
        DWORD number;
        bool trim;
        std::string text;
    };
    const Case cases[] = {
        {2, false, "The system cannot find the file specified.\r\n"},
        {2, true, "The system cannot find the file specified."},
        {77, true, "Tabs and spaces"},
        {78, false, std::string(255, 'x')},
        {79, true, ""},
        {1234, false, "Hosed"}, // no system text
        {1234, true, "Hosed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(port.errortext(c.number, c.trim), c.text);
    }
    EXPECT_EQ(fake.calls_to("FormatMessageA").front(),
              "FormatMessageA(0x1300, null, 2, 0, 0, null)");
    EXPECT_EQ(fake.texts_outstanding, 0);
    EXPECT_EQ(fake.calls_to("LocalFree").size(), 5u);
}

TEST_F(ErrortextTest, NumberZeroMeansTheRecordedError) {
    fake.texts[ERROR_FILE_NOT_FOUND] = "not found\r\n";
    fake.fail_next("CreateFileA", {ERROR_FILE_NOT_FOUND});
    ASSERT_EQ(port.open("COM9", 9600, true, true, 8), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(port.errortext(0, false), "not found\r\n");
}

TEST_F(ErrortextTest, EachThreadHasItsOwnText) {
    fake.texts[2] = "two";
    fake.texts[3] = "three";
    const char* mine = port.errortext(2, false);
    std::string theirs;
    std::thread([&] { theirs = port.errortext(3, false); }).join();
    EXPECT_STREQ(mine, "two");
    EXPECT_EQ(theirs, "three");
}

} // namespace
