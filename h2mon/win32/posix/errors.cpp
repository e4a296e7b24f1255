#include "h2mon/win32/posix/errors.h"
#include "h2mon/win32/posix/errno_map.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

thread_local DWORD last_error = 0;

struct ErrnoPair {
    DWORD win32;
    int error;
};

// The numbers that have a Windows meaning of their own; the first row of a
// Windows number gives its text.
constexpr ErrnoPair kMapped[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},     {ERROR_ACCESS_DENIED, EBUSY},
    {ERROR_ACCESS_DENIED, EWOULDBLOCK}, {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_NOT_SUPPORTED, EOPNOTSUPP},  {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_ALREADY_EXISTS, EEXIST},     {ERROR_TIMEOUT, ETIMEDOUT},
};

bool errno_is_known(int error) {
    return error > 0 && strerrorname_np(error) != nullptr;
}

std::string system_text(DWORD error) {
    const int e = errno_from_win32_error(error);
    if (e == 0) {
        return std::string();
    }
    // System texts end with a line end, which callers may rely on to end a line.
    return std::string(std::strerror(e)) + "\n";
}

} // namespace

DWORD win32_error_from_errno(int error) {
    if (error == 0) {
        return 0;
    }
    for (const ErrnoPair& pair : kMapped) {
        if (pair.error == error) {
            return pair.win32;
        }
    }
    return LINUX_ERRNO_FLAG | static_cast<DWORD>(error);
}

int errno_from_win32_error(DWORD error) {
    if ((error & LINUX_ERRNO_FLAG) != 0) {
        const int e = static_cast<int>(error & ~LINUX_ERRNO_FLAG);
        return errno_is_known(e) ? e : 0;
    }
    for (const ErrnoPair& pair : kMapped) {
        if (pair.win32 == error) {
            return pair.error;
        }
    }
    return 0;
}

void set_last_error_from_errno(int error) {
    SetLastError(win32_error_from_errno(error));
}

DWORD GetLastError() {
    return last_error;
}

void SetLastError(DWORD error) {
    last_error = error;
}

// Only as the serial port class asks for a text: from the system, into a buffer
// allocated here. A caller's own buffer is not supported.
DWORD FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/,
                     LPSTR buffer, DWORD /*size*/, va_list* /*arguments*/) {
    constexpr DWORD kMessageNotFound = 317; // ERROR_MR_MID_NOT_FOUND
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
        (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string text = system_text(messageId);
    if (text.empty()) {
        SetLastError(kMessageNotFound);
        return 0;
    }
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(buffer) = copy;
    return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
