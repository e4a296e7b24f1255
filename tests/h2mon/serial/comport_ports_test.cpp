// The port list and the in-use markers, over a simulated device list.
#include "h2mon/serial/comport.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;
using Device = FakePlatform::Device;

class ComportPortsTest : public ::testing::Test {
protected:
    FakePlatform fake;
    COMPORT port;

    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        for (int i = 0; i < port.nPorts; ++i) {
            names.push_back(std::string(port.pPorts[i].szName) + "=" + port.pPorts[i].szDesc);
        }
        return names;
    }
};

TEST_F(ComportPortsTest, ListsThePortsInSystemOrderWithTheirNumbers) {
    fake.devices = {{"COM4", "USB Serial Port"}, {"COM1", "Communications Port"}};
    EXPECT_EQ(port.enumerate(nullptr), 2);
    EXPECT_EQ(listed(), (Calls{"COM4=USB Serial Port", "COM1=Communications Port"}));
    EXPECT_EQ(port.pPorts[0].nPort, 4);
    EXPECT_EQ(port.pPorts[1].nPort, 1);

    const Calls first_device(fake.calls.begin(), fake.calls.begin() + 7);
    EXPECT_EQ(
        first_device,
        (Calls{"SetupDiClassGuidsFromNameA(Ports, 256)",
               "SetupDiGetClassDevsA(0x4d36e978, null, null, 2)",
               "SetupDiOpenDevRegKey(1, 0, 1, 1)", "RegQueryValueExA(PortName, null, 512, zeroed)",
               "SetupDiGetDeviceRegistryPropertyA(0, 256, zeroed)",
               "CreateSemaphoreA(null, 0, 1, COM4)", "CloseHandle(marker COM4)"}));
    EXPECT_EQ(fake.calls.back(), "SetupDiDestroyDeviceInfoList(list)");
    EXPECT_EQ(fake.keys_open, 0);
    EXPECT_TRUE(fake.markers_held.empty());
}

TEST_F(ComportPortsTest, OnlyComNamesWithADigitAreListedAndRenamed) {
    struct Case {
        Device device;
        std::string listed; // empty: skipped
        int number;
    };
    Device no_key{"COM5", "d"};
    no_key.has_key = false;
    Device not_text{"COM6", "d"};
    not_text.name_type = 3; // REG_BINARY
    Device missing{"COM7", "d"};
    missing.name_type = REG_NONE;
    const Case cases[] = {
        {{"com7", "d"}, "COM7", 7},
        {{"COM07", "d"}, "COM7", 7},
        {{"Com12abc", "d"}, "COM12", 12},
        {{"COM256", "d"}, "COM256", 256},
        {{"LPT1", "d"}, "", 0},
        {{"COMX", "d"}, "", 0},
        {{"COM", "d"}, "", 0},
        {{"CO1", "d"}, "", 0},
        {{"COM99999999999", "d"}, "", 0},
        {no_key, "", 0},
        {not_text, "", 0},
        {missing, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device.port_name);
        fake.devices = {c.device};
        const int n = port.enumerate(nullptr);
        EXPECT_EQ(n, c.listed.empty() ? 0 : 1);
        if (n == 1) {
            EXPECT_STREQ(port.pPorts[0].szName, c.listed.c_str());
            EXPECT_EQ(port.pPorts[0].nPort, c.number);
        }
    }
    EXPECT_EQ(fake.keys_open, 0);
}

TEST_F(ComportPortsTest, FilterAndDescriptionRules) {
    Device no_description{"COM9", "ignored"};
    no_description.has_description = false;
    fake.devices = {{"COM1", "USB Serial"},           {"COM2", "Toshiba BT Port"},
                    {"COM3", "_`__ Modem"},           {"COM4", "toshiba bt port"},
                    {"COM5", "_`__ Toshiba BT Port"}, no_description};
    struct Case {
        const char* filter;
        Calls listed;
    };
    const Case cases[] = {
        {nullptr, {"COM1=USB Serial", "COM3=Modem", "COM9="}},
        {"TOSHIBA BT PORT",
         {"COM2=Toshiba BT Port", "COM4=toshiba bt port", "COM5=Toshiba BT Port"}},
        {"modem", {"COM3=Modem"}},
        {"_`__ Modem", {}}, // the filter is compared with the shortened description
        {"no such device", {}},
        {"", {"COM9="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter ? c.filter : "null");
        EXPECT_EQ(port.enumerate(c.filter), static_cast<int>(c.listed.size()));
        EXPECT_EQ(listed(), c.listed);
    }
}

TEST_F(ComportPortsTest, DescriptionOfTheFullBufferSizeStaysTerminated) {
    fake.devices = {{"COM1", std::string(300, 'd')}};
    fake.devices[0].port_name = "COM1" + std::string(600, ' '); // no NUL fits either
    ASSERT_EQ(port.enumerate(nullptr), 1);
    EXPECT_EQ(std::string(port.pPorts[0].szDesc), std::string(256, 'd'));
    EXPECT_STREQ(port.pPorts[0].szName, "COM1");
}

TEST_F(ComportPortsTest, ListHoldsAtMost256Ports) {
    for (int i = 1; i <= 300; ++i) {
        fake.devices.push_back({"COM" + std::to_string(i), "d"});
    }
    EXPECT_EQ(port.enumerate(nullptr), 256);
    EXPECT_STREQ(port.pPorts[255].szName, "COM256");
    EXPECT_EQ(fake.keys_open, 0);
    EXPECT_EQ(fake.calls_to("CreateSemaphoreA").size(), 256u);
}

TEST_F(ComportPortsTest, ClaimedPortsAreLeftOut) {
    fake.devices = {{"COM1", "a"}, {"COM4", "b"}, {"COM5", "c"}};
    fake.markers_elsewhere = {"COM4"};
    EXPECT_EQ(port.enumerate(nullptr), 2);
    EXPECT_EQ(listed(), (Calls{"COM1=a", "COM5=c"}));

    fake.markers_elsewhere.clear();
    ASSERT_FALSE(port.claim("COM5:baud=9600", true)); // this object's own mark counts too
    EXPECT_EQ(port.enumerate(nullptr), 2);
    EXPECT_EQ(listed(), (Calls{"COM1=a", "COM4=b"}));
}

TEST_F(ComportPortsTest, NoPortsClassOrNoDeviceListListsNothing) {
    fake.devices = {{"COM1", "a"}};
    ASSERT_EQ(port.enumerate(nullptr), 1);

    fake.port_class_count = 0;
    EXPECT_EQ(port.enumerate(nullptr), 0);
    EXPECT_EQ(port.nPorts, 0);
    EXPECT_TRUE(fake.calls_to("SetupDiGetClassDevsA").size() == 1);

    fake.port_class_count = 2;
    fake.device_list_fails = true;
    EXPECT_EQ(port.enumerate(nullptr), 0);
    EXPECT_EQ(port.nClassGUIDs, 2u);
    EXPECT_EQ(port.nPorts, 0);
}

TEST_F(ComportPortsTest, ClaimWithoutKeepOnlyTests) {
    EXPECT_FALSE(port.claim("COM5", false));
    EXPECT_FALSE(port.claim("COM5", false));
    EXPECT_EQ(port.hCOMSem, nullptr);
    EXPECT_TRUE(fake.markers_held.empty());
    EXPECT_EQ(port.dwLastError, 0u);

    fake.markers_elsewhere = {"COM5"};
    EXPECT_TRUE(port.claim("COM5", false));
    EXPECT_EQ(port.dwLastError, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(fake.markers_held.empty());
}

TEST_F(ComportPortsTest, KeptMarkerLastsUntilReleaseOrClose) {
    EXPECT_FALSE(port.claim("COM5:baud=9600 data=8", true));
    EXPECT_NE(port.hCOMSem, nullptr);
    EXPECT_EQ(fake.calls_to("CreateSemaphoreA"), Calls{"CreateSemaphoreA(null, 0, 1, COM5)"});
    COMPORT other;
    EXPECT_TRUE(other.claim("COM5", false));
    port.release();
    EXPECT_EQ(port.hCOMSem, nullptr);
    EXPECT_FALSE(other.claim("COM5", false));

    ASSERT_FALSE(port.claim("COM5", true));
    port.close(); // a closed port keeps its marker
    EXPECT_NE(port.hCOMSem, nullptr);
    ASSERT_EQ(port.open("COM5", 9600, true, true, 8), 0u);
    port.close();
    EXPECT_EQ(port.hCOMSem, nullptr);
    EXPECT_TRUE(fake.markers_held.empty());
}

TEST_F(ComportPortsTest, MarkerThatCannotBeCreatedCountsAsFree) {
    fake.fail_always("CreateSemaphoreA", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(port.claim("COM5", true));
    EXPECT_EQ(port.hCOMSem, nullptr);
}

TEST_F(ComportPortsTest, KeepingASecondMarkerIsAProgrammingError) {
    ASSERT_FALSE(port.claim("COM5", true));
    EXPECT_DEATH(port.claim("COM6", true), "Assertion failed: hCOMSem == NULL, file comport");
    port.release();
}

} // namespace
