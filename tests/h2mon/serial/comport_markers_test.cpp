// The port list over a sysfs tree, and in-use markers shared between processes,
// through the system's own calls.
#include "h2mon/serial/comport.h"

#include "tests/support/forked_child.h"
#include "tests/support/sysfs_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Names = std::vector<std::string>;

Names listed(const COMPORT& port) {
    Names names;
    for (int i = 0; i < port.nPorts; ++i) {
        names.push_back(std::string(port.pPorts[i].szName) + "=" + port.pPorts[i].szDesc);
    }
    return names;
}

// In a child process: keeps the marker of `name` through a port object until
// told to let go, then tells it has ('x').
void keep_marker(ForkedChild& parent, const std::string& name) {
    COMPORT port;
    parent.tell(port.claim(name.c_str(), true) ? 't' : 'k');
    parent.hear();
    port.release();
    parent.tell('x');
    parent.hear();
}

TEST(ComportMarkers, EnumerateListsTheSerialPortsOfTheSystem) {
    SysfsTree sysfs;
    sysfs.uart("ttyS0", "serial8250", 4);
    sysfs.uart("ttyS1", "serial8250", 0);
    sysfs.usb("ttyUSB0", "Acme", "_`__ USB Adapter");
    sysfs.usb("ttyUSB1", "Toshiba", "Toshiba BT Port");
    sysfs.usb("ttyACM0", "", "");
    sysfs.uart("ttyXR0", "xr_serial", -1);
    COMPORT port;
    EXPECT_EQ(port.enumerate(nullptr), 3);
    EXPECT_EQ(listed(port), (Names{"COM1=serial8250", "COM33=USB Adapter", "COM65=cdc_acm"}));
    EXPECT_EQ(port.enumerate("TOSHIBA BT PORT"), 1);
    EXPECT_EQ(listed(port), Names{"COM34=Toshiba BT Port"});
    EXPECT_EQ(port.enumerate("usb adapter"), 1);
    EXPECT_EQ(port.pPorts[0].nPort, 33);
}

TEST(ComportMarkers, PortsClaimedByAnotherProcessAreLeftOut) {
    SysfsTree sysfs;
    sysfs.uart("ttyS0", "serial8250", 4);
    sysfs.usb("ttyUSB0", "", "Adapter");
    COMPORT port;
    ForkedChild holder([](ForkedChild& parent) { keep_marker(parent, "COM33:baud=9600"); });
    ASSERT_EQ(holder.hear(), 'k');
    EXPECT_EQ(port.enumerate(nullptr), 1);
    EXPECT_EQ(listed(port), Names{"COM1=serial8250"});
    holder.kill(); // its marker dies with it
    EXPECT_EQ(port.enumerate(nullptr), 2);
}

TEST(ComportMarkers, ClaimAndReleaseAcrossProcesses) {
    const std::string name = "h2test-" + std::to_string(::getpid()) + "-COM5";
    COMPORT port;
    EXPECT_FALSE(port.claim(name.c_str(), false));
    EXPECT_FALSE(port.claim(name.c_str(), false)); // a test leaves no marker behind
    {
        ForkedChild holder([&](ForkedChild& parent) { keep_marker(parent, name); });
        ASSERT_EQ(holder.hear(), 'k');
        EXPECT_TRUE(port.claim(name.c_str(), false));
        EXPECT_TRUE(port.claim((name + ":baud=9600").c_str(), true));
        EXPECT_EQ(port.hCOMSem, nullptr);
        holder.tell('g');
        ASSERT_EQ(holder.hear(), 'x');
        EXPECT_FALSE(port.claim(name.c_str(), false));
    }

    ASSERT_FALSE(port.claim(name.c_str(), true));
    ForkedChild rival([&](ForkedChild& parent) { keep_marker(parent, name); });
    EXPECT_EQ(rival.hear(), 't');
    port.release();
    EXPECT_FALSE(port.claim(name.c_str(), false));
}

} // namespace
