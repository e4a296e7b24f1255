#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

FakePlatform* fake = nullptr;

constexpr std::uintptr_t kFirstMarker = 0x3000;
constexpr std::uintptr_t kFirstKey = 0x4000;

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

std::string text_or_null(const char* text) {
    return text == nullptr ? "null" : text;
}

// Ends a call with its last error number, set after everything else the call
// did, so that nothing done while recording can change it.
template <class T> T with_error(DWORD error, T result) {
    ::SetLastError(error);
    return result;
}

bool is_due(DWORD at, DWORD now) {
    return static_cast<std::int32_t>(at - now) <= 0;
}

HANDLE WINAPI fake_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE tmpl) {
    fake->calls.push_back("CreateFileA(" + std::string(name) + ", " + hex(access) + ", " +
                          std::to_string(share) + ", " + (sa ? "sa" : "null") + ", " +
                          std::to_string(disposition) + ", " + hex(flags) + ", " +
                          (tmpl ? "template" : "null") + ")");
    if (DWORD e = fake->planned_error("CreateFileA")) {
        return with_error(e, INVALID_HANDLE_VALUE);
    }
    return FakePlatform::kPortHandle;
}

BOOL WINAPI fake_CloseHandle(HANDLE handle) {
    if (handle == FakePlatform::kPortHandle) {
        fake->calls.push_back("CloseHandle(port)");
        return TRUE;
    }
    auto marker = fake->markers_held.find(handle);
    if (marker != fake->markers_held.end()) {
        fake->calls.push_back("CloseHandle(marker " + marker->second + ")");
        fake->markers_held.erase(marker);
        return TRUE;
    }
    fake->calls.push_back("CloseHandle(unknown)");
    return with_error(ERROR_INVALID_HANDLE, FALSE);
}

// An empty read-ahead waits for the next byte for at most the port's read
// time-out; waiting bytes are handed out at once, up to the size asked for.
BOOL WINAPI fake_ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
    fake->calls.push_back("ReadFile(" + std::to_string(size) + ")");
    *done = 0;
    if (handle != FakePlatform::kPortHandle) {
        return with_error(ERROR_INVALID_HANDLE, FALSE);
    }
    if (DWORD e = fake->planned_error("ReadFile")) {
        return with_error(e, FALSE);
    }
    auto& line = fake->line;
    if (line.empty() || !is_due(line.front().at, fake->now)) {
        const DWORD deadline = fake->now + fake->read_timeout_ms;
        if (!line.empty() && is_due(line.front().at, deadline)) {
            fake->now = line.front().at;
        } else {
            fake->now = deadline;
            return TRUE;
        }
    }
    BYTE* out = static_cast<BYTE*>(buffer);
    while (*done < size && !line.empty() && is_due(line.front().at, fake->now)) {
        out[(*done)++] = line.front().byte;
        line.pop_front();
    }
    return TRUE;
}

BOOL WINAPI fake_WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
    fake->calls.push_back("WriteFile(" + std::to_string(size) + ")");
    if (handle != FakePlatform::kPortHandle) {
        return with_error(ERROR_INVALID_HANDLE, FALSE);
    }
    if (DWORD e = fake->planned_error("WriteFile")) {
        *done = fake->written_on_failure;
        return with_error(e, FALSE);
    }
    const DWORD taken = std::min(size, fake->write_takes);
    fake->written.append(static_cast<const char*>(buffer), taken);
    *done = taken;
    return TRUE;
}

BOOL WINAPI fake_GetCommState(HANDLE, LPDCB dcb) {
    fake->calls.push_back("GetCommState(" + std::to_string(dcb->DCBlength) + ")");
    if (DWORD e = fake->planned_error("GetCommState")) {
        return with_error(e, FALSE);
    }
    *dcb = fake->port_settings;
    return TRUE;
}

BOOL WINAPI fake_SetCommState(HANDLE, LPDCB dcb) {
    fake->calls.push_back("SetCommState(" + std::to_string(dcb->BaudRate) + ")");
    fake->states_set.push_back(*dcb);
    if (DWORD e = fake->planned_error("SetCommState")) {
        return with_error(e, FALSE);
    }
    return TRUE;
}

// Understands the two settings the tests give: "baud=N" and "data=N".
BOOL WINAPI fake_BuildCommDCBA(LPCSTR mode, LPDCB dcb) {
    fake->calls.push_back("BuildCommDCBA(" + std::string(mode) + ")");
    if (DWORD e = fake->planned_error("BuildCommDCBA")) {
        return with_error(e, FALSE);
    }
    if (const char* baud = std::strstr(mode, "baud=")) {
        dcb->BaudRate = static_cast<DWORD>(std::strtoul(baud + 5, nullptr, 10));
    }
    if (const char* data = std::strstr(mode, "data=")) {
        dcb->ByteSize = static_cast<BYTE>(std::strtoul(data + 5, nullptr, 10));
    }
    dcb->fBinary = 1;
    return TRUE;
}

BOOL WINAPI fake_SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS t) {
    fake->calls.push_back("SetCommTimeouts(" + hex(t->ReadIntervalTimeout) + ", " +
                          hex(t->ReadTotalTimeoutMultiplier) + ", " +
                          std::to_string(t->ReadTotalTimeoutConstant) + ", " +
                          std::to_string(t->WriteTotalTimeoutMultiplier) + ", " +
                          std::to_string(t->WriteTotalTimeoutConstant) + ")");
    if (DWORD e = fake->planned_error("SetCommTimeouts")) {
        return with_error(e, FALSE);
    }
    fake->read_timeout_ms = t->ReadTotalTimeoutConstant;
    return TRUE;
}

BOOL WINAPI fake_PurgeComm(HANDLE, DWORD flags) {
    fake->calls.push_back("PurgeComm(" + hex(flags) + ")");
    return TRUE;
}

BOOL WINAPI fake_EscapeCommFunction(HANDLE, DWORD function) {
    fake->calls.push_back("EscapeCommFunction(" + std::to_string(function) + ")");
    return TRUE;
}

BOOL WINAPI fake_port_device_exists(LPCSTR name) {
    return fake->present_devices.count(name) != 0 ? TRUE : FALSE;
}

LONG fake_port_hold_back_ms(HANDLE) {
    return fake->hold_back_ms;
}

DWORD WINAPI fake_FormatMessageA(DWORD flags, LPCVOID source, DWORD number, DWORD language,
                                 LPSTR buffer, DWORD size, va_list* arguments) {
    fake->calls.push_back("FormatMessageA(" + hex(flags) + ", " + (source ? "source" : "null") +
                          ", " + std::to_string(number) + ", " + std::to_string(language) + ", " +
                          std::to_string(size) + ", " + (arguments ? "arguments" : "null") + ")");
    auto text = fake->texts.find(number);
    if (text == fake->texts.end()) {
        return with_error(DWORD{317}, DWORD{0});
    }
    char* copy = static_cast<char*>(std::malloc(text->second.size() + 1));
    std::memcpy(copy, text->second.c_str(), text->second.size() + 1);
    *reinterpret_cast<char**>(buffer) = copy;
    ++fake->texts_outstanding;
    return static_cast<DWORD>(text->second.size());
}

HLOCAL WINAPI fake_LocalFree(HLOCAL memory) {
    fake->calls.push_back("LocalFree");
    std::free(memory);
    --fake->texts_outstanding;
    return nullptr;
}

void WINAPI fake_Sleep(DWORD ms) {
    fake->calls.push_back("Sleep(" + std::to_string(ms) + ")");
    fake->now += ms;
}

DWORD WINAPI fake_timeGetTime() {
    return fake->now;
}

BOOL WINAPI fake_SetupDiClassGuidsFromNameA(LPCSTR name, LPGUID guids, DWORD size,
                                            PDWORD required) {
    fake->calls.push_back("SetupDiClassGuidsFromNameA(" + std::string(name) + ", " +
                          std::to_string(size) + ")");
    const DWORD count = _stricmp(name, "Ports") == 0 ? fake->port_class_count : 0;
    for (DWORD i = 0; i < count && i < size; ++i) {
        guids[i] =
            GUID{0x4d36e978u + i, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    }
    *required = count;
    return count <= size;
}

HDEVINFO WINAPI fake_SetupDiGetClassDevsA(const GUID* guid, LPCSTR enumerator, HWND window,
                                          DWORD flags) {
    fake->calls.push_back("SetupDiGetClassDevsA(" + hex(guid->Data1) + ", " +
                          text_or_null(enumerator) + ", " + (window ? "window" : "null") + ", " +
                          std::to_string(flags) + ")");
    if (fake->device_list_fails) {
        return with_error(DWORD{ERROR_INVALID_PARAMETER}, HDEVINFO(INVALID_HANDLE_VALUE));
    }
    return FakePlatform::kDeviceList;
}

const FakePlatform::Device* device_of(HDEVINFO list, PSP_DEVINFO_DATA data) {
    if (list != FakePlatform::kDeviceList || data->DevInst >= fake->devices.size()) {
        return nullptr;
    }
    return &fake->devices[data->DevInst];
}

BOOL WINAPI fake_SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data) {
    if (list != FakePlatform::kDeviceList || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return with_error(DWORD{ERROR_INVALID_PARAMETER}, FALSE);
    }
    if (index >= fake->devices.size()) {
        return with_error(DWORD{ERROR_NO_MORE_ITEMS}, FALSE);
    }
    data->DevInst = index;
    return TRUE;
}

HKEY WINAPI fake_SetupDiOpenDevRegKey(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD scope,
                                      DWORD profile, DWORD type, REGSAM access) {
    fake->calls.push_back("SetupDiOpenDevRegKey(" + std::to_string(scope) + ", " +
                          std::to_string(profile) + ", " + std::to_string(type) + ", " +
                          std::to_string(access) + ")");
    const FakePlatform::Device* device = device_of(list, data);
    if (device == nullptr || !device->has_key) {
        return with_error(DWORD{ERROR_FILE_NOT_FOUND},
                          reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    }
    ++fake->keys_open;
    return reinterpret_cast<HKEY>(kFirstKey + data->DevInst);
}

bool all_zero(const BYTE* data, DWORD size) {
    for (DWORD i = 0; i < size; ++i) {
        if (data[i] != 0) {
            return false;
        }
    }
    return true;
}

// Copies a text value as the registry does: with its NUL when it fits, cut to
// the buffer otherwise.
void copy_value(const std::string& text, BYTE* data, DWORD size) {
    std::memcpy(data, text.c_str(), std::min<std::size_t>(text.size() + 1, size));
}

LSTATUS WINAPI fake_RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                     LPBYTE data, LPDWORD size) {
    fake->calls.push_back("RegQueryValueExA(" + std::string(name) + ", " +
                          (reserved ? "reserved" : "null") + ", " + std::to_string(*size) + ", " +
                          (all_zero(data, *size) ? "zeroed" : "dirty") + ")");
    const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(key) - kFirstKey;
    if (index >= fake->devices.size() || std::strcmp(name, "PortName") != 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    const FakePlatform::Device& device = fake->devices[index];
    if (device.name_type == REG_NONE) {
        return ERROR_FILE_NOT_FOUND;
    }
    *type = device.name_type;
    copy_value(device.port_name, data, *size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI fake_RegCloseKey(HKEY) {
    --fake->keys_open;
    return ERROR_SUCCESS;
}

BOOL WINAPI fake_SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA data,
                                                   DWORD property, PDWORD type, PBYTE buffer,
                                                   DWORD size, PDWORD) {
    fake->calls.push_back("SetupDiGetDeviceRegistryPropertyA(" + std::to_string(property) + ", " +
                          std::to_string(size) + ", " +
                          (all_zero(buffer, size) ? "zeroed" : "dirty") + ")");
    const FakePlatform::Device* device = device_of(list, data);
    if (device == nullptr || property != SPDRP_DEVICEDESC || !device->has_description) {
        return with_error(DWORD{13}, FALSE); // ERROR_INVALID_DATA
    }
    *type = REG_SZ;
    copy_value(device->description, buffer, size);
    return TRUE;
}

BOOL WINAPI fake_SetupDiDestroyDeviceInfoList(HDEVINFO list) {
    fake->calls.push_back(std::string("SetupDiDestroyDeviceInfoList(") +
                          (list == FakePlatform::kDeviceList ? "list" : "unknown") + ")");
    return TRUE;
}

HANDLE WINAPI fake_CreateSemaphoreA(LPSECURITY_ATTRIBUTES sa, LONG initial, LONG maximum,
                                    LPCSTR name) {
    fake->calls.push_back("CreateSemaphoreA(" + std::string(sa ? "sa" : "null") + ", " +
                          std::to_string(initial) + ", " + std::to_string(maximum) + ", " + name +
                          ")");
    if (DWORD e = fake->planned_error("CreateSemaphoreA")) {
        return with_error(e, HANDLE(nullptr));
    }
    static std::uintptr_t next = kFirstMarker;
    HANDLE handle = reinterpret_cast<HANDLE>(next++);
    bool exists = fake->markers_elsewhere.count(name) != 0;
    for (const auto& held : fake->markers_held) {
        exists = exists || held.second == name;
    }
    fake->markers_held[handle] = name;
    return with_error(exists ? DWORD{ERROR_ALREADY_EXISTS} : DWORD{0}, handle);
}

} // namespace

const HANDLE FakePlatform::kPortHandle = reinterpret_cast<HANDLE>(0x1000);
const HANDLE FakePlatform::kDeviceList = reinterpret_cast<HANDLE>(0x2000);

FakePlatform::FakePlatform() : port_settings(dcb_left_by_another_program()) {
    table_ = system_platform_calls();
    table_.CreateFileA = fake_CreateFileA;
    table_.port_device_exists = fake_port_device_exists;
    table_.CloseHandle = fake_CloseHandle;
    table_.ReadFile = fake_ReadFile;
    table_.WriteFile = fake_WriteFile;
    table_.GetCommState = fake_GetCommState;
    table_.SetCommState = fake_SetCommState;
    table_.BuildCommDCBA = fake_BuildCommDCBA;
    table_.SetCommTimeouts = fake_SetCommTimeouts;
    table_.PurgeComm = fake_PurgeComm;
    table_.EscapeCommFunction = fake_EscapeCommFunction;
    table_.port_hold_back_ms = fake_port_hold_back_ms;
    table_.FormatMessageA = fake_FormatMessageA;
    table_.LocalFree = fake_LocalFree;
    table_.Sleep = fake_Sleep;
    table_.timeGetTime = fake_timeGetTime;
    table_.SetupDiClassGuidsFromNameA = fake_SetupDiClassGuidsFromNameA;
    table_.SetupDiGetClassDevsA = fake_SetupDiGetClassDevsA;
    table_.SetupDiEnumDeviceInfo = fake_SetupDiEnumDeviceInfo;
    table_.SetupDiOpenDevRegKey = fake_SetupDiOpenDevRegKey;
    table_.SetupDiGetDeviceRegistryPropertyA = fake_SetupDiGetDeviceRegistryPropertyA;
    table_.SetupDiDestroyDeviceInfoList = fake_SetupDiDestroyDeviceInfoList;
    table_.RegQueryValueExA = fake_RegQueryValueExA;
    table_.RegCloseKey = fake_RegCloseKey;
    table_.CreateSemaphoreA = fake_CreateSemaphoreA;
    previous_table_ = &platform_calls();
    previous_fake_ = fake;
    fake = this;
    install_platform_calls(table_);
}

// Fakes nest: the one made last is in use until it goes.
FakePlatform::~FakePlatform() {
    install_platform_calls(*previous_table_);
    fake = previous_fake_;
}

std::vector<std::string> FakePlatform::calls_to(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
        if (call.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(call);
        }
    }
    return found;
}

void FakePlatform::fail_next(const std::string& call, std::vector<DWORD> errors) {
    next_errors_[call].assign(errors.begin(), errors.end());
}

void FakePlatform::fail_always(const std::string& call, DWORD error) {
    always_errors_[call] = error;
}

DWORD FakePlatform::planned_error(const std::string& call) {
    auto always = always_errors_.find(call);
    if (always != always_errors_.end()) {
        return always->second;
    }
    auto next = next_errors_.find(call);
    if (next == next_errors_.end() || next->second.empty()) {
        return 0;
    }
    const DWORD error = next->second.front();
    next->second.pop_front();
    return error;
}

void FakePlatform::arrive(DWORD after_ms, const std::string& bytes) {
    for (char c : bytes) {
        line.push_back({now + after_ms, static_cast<BYTE>(c)});
    }
}
