// The "Ports" device list over a small sysfs tree built by the test.
#include "h2mon/win32/win32.h"

#include "tests/support/sysfs_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Listed {
    std::string port_name;
    std::string description; // "<none>" when the property is missing
    bool operator==(const Listed& o) const {
        return port_name == o.port_name && description == o.description;
    }
};

std::ostream& operator<<(std::ostream& out, const Listed& l) {
    return out << l.port_name << "=" << l.description;
}

GUID ports_class() {
    GUID guid{};
    DWORD count = 0;
    EXPECT_TRUE(SetupDiClassGuidsFromNameA("ports", &guid, 1, &count));
    EXPECT_EQ(count, 1u);
    return guid;
}

std::vector<Listed> list_ports() {
    const GUID guid = ports_class();
    HDEVINFO list = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_NE(list, INVALID_HANDLE_VALUE);
    std::vector<Listed> ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list, i, &device); ++i) {
        HKEY key =
            SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        char name[512] = {};
        DWORD type = 0;
        DWORD size = sizeof name;
        EXPECT_EQ(
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        char description[256] = {};
        const bool has = SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_DEVICEDESC, &type,
                                                           reinterpret_cast<BYTE*>(description),
                                                           sizeof description, nullptr);
        ports.push_back({name, has ? description : "<none>"});
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    return ports;
}

class SetupApiTest : public ::testing::Test {
protected:
    SysfsTree sysfs;
};

TEST_F(SetupApiTest, ListsSerialDevicesInComOrderWithTheirDescriptions) {
    sysfs.uart("ttyS1", "serial8250", 4);
    sysfs.uart("ttyS0", "serial8250", 4);
    sysfs.uart("ttyS2", "serial8250", 0); // a placeholder without hardware
    sysfs.uart("ttyAMA0", "uart-pl011", 0x53);
    sysfs.usb("ttyUSB0", "FTDI", "FT232R USB UART");
    sysfs.usb("ttyACM1", "Arduino (www.arduino.cc)", "");
    sysfs.usb("ttyACM0", "", "");
    sysfs.uart("ttyXR0", "xr_serial", -1); // no COM name
    sysfs.virtual_tty("tty1");
    sysfs.virtual_tty("ptmx");
    EXPECT_EQ(list_ports(), (std::vector<Listed>{
                                {"COM1", "serial8250"},
                                {"COM2", "serial8250"},
                                {"COM33", "FT232R USB UART"},
                                {"COM65", "cdc_acm"},
                                {"COM66", "Arduino (www.arduino.cc)"},
                                {"COM97", "uart-pl011"},
                                {"ttyXR0", "xr_serial"},
                            }));
}

TEST_F(SetupApiTest, EmptyOrMissingTreeListsNothing) {
    EXPECT_TRUE(list_ports().empty());
    set_sysfs_root("/nonexistent-sysfs");
    EXPECT_TRUE(list_ports().empty());
}

TEST_F(SetupApiTest, OtherClassesAreEmpty) {
    GUID guid{};
    DWORD count = 7;
    EXPECT_TRUE(SetupDiClassGuidsFromNameA("Modem", &guid, 1, &count));
    EXPECT_EQ(count, 0u);
    const GUID ports = ports_class();
    EXPECT_EQ(ports.Data1, 0x4D36E978u);
    EXPECT_EQ(ports.Data4[7], 0x18);
}

TEST_F(SetupApiTest, ValuesDoNotOverrunTheCallersBuffers) {
    sysfs.usb("ttyUSB3", "", "A description longer than the buffer");
    const GUID guid = ports_class();
    HDEVINFO list = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(list, 0, &device));

    char small[5] = "xxxx";
    DWORD type = 0;
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(list, &device, SPDRP_DEVICEDESC, &type,
                                                   reinterpret_cast<BYTE*>(small), 4, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 37u);
    EXPECT_STREQ(small, "xxxx");

    HKEY key = SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    DWORD size = 4;
    EXPECT_EQ(
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
        234); // ERROR_MORE_DATA
    EXPECT_EQ(size, 6u);
    EXPECT_STREQ(small, "xxxx");
    EXPECT_EQ(RegQueryValueExA(key, "FriendlyName", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS); // closed already
    SetupDiDestroyDeviceInfoList(list);
}

} // namespace
