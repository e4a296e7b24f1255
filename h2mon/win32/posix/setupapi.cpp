// The "Ports" device setup class over sysfs.
//
// The class lists the serial ports the kernel has: the entries of class/tty that
// stand for a device (they have a "device" link), less the placeholder UARTs that
// serial drivers register for ports without hardware (their "type" is 0). Each
// device has a key with a "PortName" value, its COM name when it has one, else its
// kernel name; and a description: the product (or else manufacturer) string of the
// USB device above it, or else the name of its driver.
#include "h2mon/win32/posix/setupapi.h"
#include "h2mon/win32/com_name.h"
#include "h2mon/win32/posix/handles.h"
#include "h2mon/win32/posix/port_names.h"
#include "h2mon/win32/posix/strings.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace {

constexpr DWORD kErrorInvalidData = 13;
constexpr LSTATUS kErrorMoreData = 234;
constexpr DWORD kErrorInvalidUserBuffer = 1784;
constexpr char kDefaultRoot[] = "/sys";

// {4D36E978-E325-11CE-BFC1-08002BE10318}
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string& sysfs_root() {
    static std::string root = kDefaultRoot;
    return root;
}

struct PortDevice {
    std::string kernel_name;
    std::string port_name;
    std::string description;
};

class DeviceList : public HandleObject {
public:
    std::vector<PortDevice> devices;
};

class DeviceKey : public HandleObject {
public:
    explicit DeviceKey(std::string name) : port_name(std::move(name)) {}
    std::string port_name;
};

bool same_guid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// A sysfs attribute's first line, without its line end; empty when absent.
std::string read_attribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::string real_path(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::string();
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// The product (or else manufacturer) string of the first USB device above the
// device, within the sysfs tree.
std::string usb_description(const std::string& device) {
    const std::string top = real_path(sysfs_root());
    for (std::string dir = real_path(device);
         !dir.empty() && dir.size() > top.size() && dir.compare(0, top.size(), top) == 0;
         dir = parent_of(dir)) {
        if (exists(dir + "/idVendor")) {
            const std::string product = read_attribute(dir + "/product");
            return product.empty() ? read_attribute(dir + "/manufacturer") : product;
        }
    }
    return std::string();
}

std::string driver_name(const std::string& device) {
    const std::string driver = real_path(device + "/driver");
    return driver.empty() ? std::string() : driver.substr(driver.rfind('/') + 1);
}

std::string describe(const std::string& device) {
    const std::string usb = usb_description(device);
    return usb.empty() ? driver_name(device) : usb;
}

bool is_serial_port(const std::string& entry) {
    return exists(entry + "/device") && read_attribute(entry + "/type") != "0";
}

// COM ports first, by number (so by family, then number within it); then devices
// without a COM name by family name and number.
auto order_key(const PortDevice& device) {
    const std::int32_t number_as_com = read_com_name(device.port_name.c_str()).number;
    const long com = number_as_com >= 0 ? number_as_com : LONG_MAX;
    const std::size_t digits = device.kernel_name.find_last_not_of("0123456789") + 1;
    const std::string family = device.kernel_name.substr(0, digits);
    const long number = digits < device.kernel_name.size()
                            ? std::strtol(&device.kernel_name[digits], nullptr, 10)
                            : -1;
    return std::make_tuple(com, family, number, device.kernel_name);
}

std::vector<PortDevice> present_ports() {
    std::vector<PortDevice> ports;
    const std::string directory = sysfs_root() + "/class/tty";
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
        return ports;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        const std::string path = directory + "/" + name;
        if (name == "." || name == ".." || !is_serial_port(path)) {
            continue;
        }
        char com[16] = {};
        const bool has_com = tty_to_com_name(name.c_str(), com, sizeof com);
        ports.push_back({name, has_com ? com : name, describe(path + "/device")});
    }
    ::closedir(listing);
    std::sort(ports.begin(), ports.end(),
              [](const PortDevice& a, const PortDevice& b) { return order_key(a) < order_key(b); });
    return ports;
}

const PortDevice* device_of(HDEVINFO list, PSP_DEVINFO_DATA data) {
    const DeviceList* devices = handle_object<DeviceList>(list);
    if (devices == nullptr) {
        return nullptr;
    }
    if (data == nullptr || data->DevInst >= devices->devices.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &devices->devices[data->DevInst];
}

} // namespace

void set_sysfs_root(const char* root) {
    sysfs_root() = root != nullptr ? root : kDefaultRoot;
}

BOOL SetupDiClassGuidsFromNameA(LPCSTR className, LPGUID classGuidList, DWORD classGuidListSize,
                                PDWORD requiredSize) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD count = _stricmp(className, "Ports") == 0 ? 1 : 0;
    if (requiredSize != nullptr) {
        *requiredSize = count;
    }
    if (count > classGuidListSize || (count > 0 && classGuidList == nullptr)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (count > 0) {
        classGuidList[0] = kPortsClass;
    }
    return TRUE;
}

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR /*enumerator*/, HWND /*parent*/,
                              DWORD /*flags*/) {
    if (classGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only present devices are ever listed: sysfs knows no others.
    DeviceList* list = new DeviceList;
    if (same_guid(*classGuid, kPortsClass)) {
        list->devices = present_ports();
    }
    return register_handle(list);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                           PSP_DEVINFO_DATA deviceInfoData) {
    const DeviceList* list = handle_object<DeviceList>(deviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    if (deviceInfoData == nullptr || deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(kErrorInvalidUserBuffer);
        return FALSE;
    }
    if (memberIndex >= list->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    deviceInfoData->ClassGuid = kPortsClass;
    deviceInfoData->DevInst = memberIndex;
    deviceInfoData->Reserved = 0;
    return TRUE;
}

HKEY SetupDiOpenDevRegKey(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD /*scope*/,
                          DWORD /*hwProfile*/, DWORD keyType, REGSAM /*samDesired*/) {
    const PortDevice* device = device_of(deviceInfoSet, deviceInfoData);
    if (device == nullptr) {
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    if (keyType != DIREG_DEV) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    return reinterpret_cast<HKEY>(register_handle(new DeviceKey(device->port_name)));
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                       DWORD property, PDWORD propertyRegDataType,
                                       PBYTE propertyBuffer, DWORD propertyBufferSize,
                                       PDWORD requiredSize) {
    const PortDevice* device = device_of(deviceInfoSet, deviceInfoData);
    if (device == nullptr) {
        return FALSE;
    }
    // A device without a description has no such property, as on Windows.
    if (property != SPDRP_DEVICEDESC || device->description.empty()) {
        SetLastError(kErrorInvalidData);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(device->description.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (propertyRegDataType != nullptr) {
        *propertyRegDataType = REG_SZ;
    }
    if (propertyBuffer == nullptr || propertyBufferSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(propertyBuffer, device->description.c_str(), needed);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
    if (handle_object<DeviceList>(deviceInfoSet) == nullptr) {
        return FALSE;
    }
    return CloseHandle(deviceInfoSet);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type,
                         LPBYTE data, LPDWORD dataSize) {
    const DeviceKey* device = handle_object<DeviceKey>(key);
    if (device == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (valueName == nullptr || _stricmp(valueName, "PortName") != 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD needed = static_cast<DWORD>(device->port_name.size() + 1);
    if (type != nullptr) {
        *type = REG_SZ;
    }
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = needed;
        }
        return ERROR_SUCCESS;
    }
    if (dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return kErrorMoreData;
    }
    std::memcpy(data, device->port_name.c_str(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    if (handle_object<DeviceKey>(key) == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    CloseHandle(key);
    return ERROR_SUCCESS;
}
