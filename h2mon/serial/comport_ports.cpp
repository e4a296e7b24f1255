// COMPORT: the list of serial ports present, and the in-use markers.
#include "h2mon/serial/comport.h"

#include "telemetry/check.h"
#include "h2mon/win32/calls.h"
#include "h2mon/win32/com_name.h"

#include <cctype>
#include <cstring>

namespace {

const PlatformCalls& os() {
    return platform_calls();
}

constexpr DWORD kPortNameSize = 512;
constexpr DWORD kDescriptionSize = 256;
constexpr std::size_t kMarkerNameSize = 512;

// Descriptions that carry this prefix are listed without it.
const char kDescriptionPrefix[] = "_`__ ";
constexpr std::size_t kDescriptionPrefixLength = sizeof kDescriptionPrefix - 1;
const char kHiddenByDefault[] = "Toshiba BT Port";

bool starts_with_nocase(const char* text, const char* prefix, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char a = static_cast<unsigned char>(text[i]);
        const unsigned char b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b)) {
            return false;
        }
        if (a == '\0') {
            return true;
        }
    }
    return true;
}

bool is_valid_key(HKEY key) {
    return key != nullptr && key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
}

// Reads the device's "PortName" value. False when the key or value is missing or
// the value is not a text. One byte beyond the size given to the system stays
// zero, so the text is terminated whatever the system wrote.
bool read_port_name(HDEVINFO devices, SP_DEVINFO_DATA* device, char (&name)[kPortNameSize + 1]) {
    HKEY key =
        os().SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (!is_valid_key(key)) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = kPortNameSize;
    const LSTATUS status = os().RegQueryValueExA(key, "PortName", nullptr, &type,
                                                 reinterpret_cast<LPBYTE>(name), &size);
    os().RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ;
}

// The device's description without the prefix, or empty when it cannot be read.
void read_description(HDEVINFO devices, SP_DEVINFO_DATA* device, char (&text)[kDescriptionSize + 1],
                      const char** description) {
    DWORD type = REG_NONE;
    *description = "";
    if (os().SetupDiGetDeviceRegistryPropertyA(devices, device, SPDRP_DEVICEDESC, &type,
                                               reinterpret_cast<PBYTE>(text), kDescriptionSize,
                                               nullptr) &&
        type == REG_SZ) {
        *description = text;
        if (starts_with_nocase(text, kDescriptionPrefix, kDescriptionPrefixLength)) {
            *description = text + kDescriptionPrefixLength;
        }
    }
}

bool passes_filter(const char* description, const char* filter) {
    if (filter == nullptr) {
        return _stricmp(description, kHiddenByDefault) != 0;
    }
    return _stricmp(description, filter) == 0;
}

} // namespace

std::int32_t COMPORT::enumerate(const char* filter) {
    nPorts = 0;
    nClassGUIDs = 0;
    os().SetupDiClassGuidsFromNameA("Ports", pClassGUIDs, kMaxClassGuids, &nClassGUIDs);
    if (nClassGUIDs == 0) {
        return 0;
    }
    HDEVINFO devices = os().SetupDiGetClassDevsA(&pClassGUIDs[0], nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SP_DEVINFO_DATA device;
    for (DWORD index = 0;; ++index) {
        std::memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;
        if (!os().SetupDiEnumDeviceInfo(devices, index, &device)) {
            break;
        }
        char name[kPortNameSize + 1] = {};
        if (!read_port_name(devices, &device, name) || nPorts == kMaxPorts) {
            continue;
        }
        const std::int32_t number = read_com_name(name).number;
        if (number < 0) {
            continue;
        }
        char text[kDescriptionSize + 1] = {};
        const char* description = nullptr;
        read_description(devices, &device, text, &description);
        if (!passes_filter(description, filter)) {
            continue;
        }
        PORTINFO& entry = pPorts[nPorts];
        entry.nPort = number;
        std::snprintf(entry.szName, sizeof entry.szName, "COM%d", static_cast<int>(number));
        std::snprintf(entry.szDesc, sizeof entry.szDesc, "%s", description);
        // A port someone has claimed is left out: the next one takes its entry.
        if (!claim(entry.szName, false)) {
            ++nPorts;
        }
    }
    os().SetupDiDestroyDeviceInfoList(devices);
    return nPorts;
}

bool COMPORT::claim(const char* name, bool keep) {
    char marker[kMarkerNameSize] = {};
    std::snprintf(marker, sizeof marker, "%s", name);
    // "COM3" and "COM3:baud=9600 ..." mark the same port.
    char* colon = std::strchr(marker, ':');
    if (colon != nullptr) {
        *colon = '\0';
    }
    // The marker is a semaphore that is never signalled: its existence is the mark.
    HANDLE semaphore = os().CreateSemaphoreA(nullptr, 0, 1, marker);
    if (semaphore == nullptr) {
        return false;
    }
    if (lasterror() == ERROR_ALREADY_EXISTS) {
        os().CloseHandle(semaphore);
        return true;
    }
    if (keep) {
        H2_ASSERT(hCOMSem == NULL);
        hCOMSem = semaphore;
    } else {
        os().CloseHandle(semaphore);
    }
    return false;
}

void COMPORT::release() {
    if (hCOMSem != nullptr) {
        os().CloseHandle(hCOMSem);
        hCOMSem = nullptr;
    }
}
