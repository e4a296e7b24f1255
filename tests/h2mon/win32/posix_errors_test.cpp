#include "h2mon/win32/win32.h"
#include "h2mon/win32/posix/errno_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

namespace {

std::string system_text(DWORD error) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_FROM_SYSTEM,
                                   nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (n == 0) {
        return "<none>";
    }
    std::string result(text);
    LocalFree(text);
    return result;
}

TEST(LinuxErrors, ErrnoValuesBecomeTheWindowsNumbersCallersTestFor) {
    struct Case {
        int error;
        DWORD expected;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "<none>"},
        {ENOENT, ERROR_FILE_NOT_FOUND, "No such file or directory\n"},
        {EBUSY, ERROR_ACCESS_DENIED, "Device or resource busy\n"},
        {EWOULDBLOCK, ERROR_ACCESS_DENIED, "Device or resource busy\n"},
        {EEXIST, ERROR_ALREADY_EXISTS, "File exists\n"},
        {EINVAL, ERROR_INVALID_PARAMETER, "Invalid argument\n"},
        {EOPNOTSUPP, ERROR_NOT_SUPPORTED, "Operation not supported\n"},
        // EIO is 5 on Linux: it must not be mistaken for ERROR_ACCESS_DENIED.
        {EIO, LINUX_ERRNO_FLAG | EIO, "Input/output error\n"},
        {EACCES, LINUX_ERRNO_FLAG | EACCES, "Permission denied\n"},
        {ENAMETOOLONG, LINUX_ERRNO_FLAG | ENAMETOOLONG, "File name too long\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        set_last_error_from_errno(c.error);
        EXPECT_EQ(GetLastError(), c.expected);
        EXPECT_EQ(system_text(GetLastError()), c.text);
    }
}

TEST(LinuxErrors, NumbersWithoutTextFailToFormat) {
    for (DWORD error :
         {DWORD{1234567}, DWORD{LINUX_ERRNO_FLAG | 99999}, DWORD{ERROR_NO_MORE_ITEMS}}) {
        EXPECT_EQ(system_text(error), "<none>") << error;
    }
}

TEST(LinuxErrors, TextsComeOnlyInABufferOfTheSystemsOwn) {
    char buffer[64] = {};
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer,
                             sizeof buffer, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_STREQ(buffer, "");
}

TEST(LinuxErrors, LastErrorBelongsToTheCallingThread) {
    SetLastError(ERROR_ALREADY_EXISTS);
    DWORD seen_elsewhere = 1;
    std::thread([&] { seen_elsewhere = GetLastError(); }).join();
    EXPECT_EQ(seen_elsewhere, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

} // namespace
