// A small sysfs tree in a temporary directory, laid out as the kernel lays out
// serial devices, and made the device list's root while it lives.
#pragma once

#include "tests/support/process.h"

#include <string>

class SysfsTree {
public:
    SysfsTree();
    ~SysfsTree();
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;

    // A UART on a platform device bound to `driver`; a `type` below 0 writes no
    // type attribute.
    void uart(const std::string& name, const std::string& driver, int type);
    // A USB serial device whose USB device carries these strings (empty: absent).
    void usb(const std::string& name, const std::string& manufacturer, const std::string& product);
    // A tty without a device (virtual consoles, ptmx).
    void virtual_tty(const std::string& name);

private:
    void add_tty(const std::string& name, const std::string& device, const std::string& driver);
    h2test::TempDir directory_;
    std::string root_;
    int usb_ports_ = 0;
};
