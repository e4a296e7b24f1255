#include "tests/support/sysfs_tree.h"

#include "h2mon/win32/win32.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text << "\n";
}

} // namespace

SysfsTree::SysfsTree() : root_(directory_.path()) {
    fs::create_directories(root_ + "/class/tty");
    set_sysfs_root(root_.c_str());
}

SysfsTree::~SysfsTree() {
    set_sysfs_root(nullptr);
}

// The tty's own directory sits under its device, class/tty links to it, and its
// "device" link leads back to the device, which links to its driver.
void SysfsTree::add_tty(const std::string& name, const std::string& device,
                        const std::string& driver) {
    const fs::path tty = fs::path(device) / "tty" / name;
    fs::create_directories(tty);
    fs::create_directory_symlink(device, tty / "device");
    const fs::path drivers = fs::path(root_) / "bus/drivers" / driver;
    fs::create_directories(drivers);
    if (!fs::exists(fs::path(device) / "driver")) {
        fs::create_directory_symlink(drivers, fs::path(device) / "driver");
    }
    fs::create_directory_symlink(tty, fs::path(root_) / "class/tty" / name);
}

void SysfsTree::uart(const std::string& name, const std::string& driver, int type) {
    const std::string device = root_ + "/devices/platform/" + driver + "." + name;
    add_tty(name, device, driver);
    if (type >= 0) {
        write_file(fs::path(device) / "tty" / name / "type", std::to_string(type));
    }
}

void SysfsTree::usb(const std::string& name, const std::string& manufacturer,
                    const std::string& product) {
    const std::string port = std::to_string(++usb_ports_);
    const fs::path usb_device = fs::path(root_) / "devices/pci0000:00/usb1" / ("1-" + port);
    const fs::path interface = usb_device / ("1-" + port + ":1.0");
    fs::create_directories(interface);
    write_file(usb_device / "idVendor", "0403");
    if (!manufacturer.empty()) {
        write_file(usb_device / "manufacturer", manufacturer);
    }
    if (!product.empty()) {
        write_file(usb_device / "product", product);
    }
    add_tty(name, interface.string(), name.rfind("ttyACM", 0) == 0 ? "cdc_acm" : "ftdi_sio");
}

void SysfsTree::virtual_tty(const std::string& name) {
    const fs::path tty = fs::path(root_) / "devices/virtual/tty" / name;
    fs::create_directories(tty);
    fs::create_directory_symlink(tty, fs::path(root_) / "class/tty" / name);
}
