#include "h2export/log_file.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace {

std::string system_message(const std::string& path, DWORD code) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return path + ": " + message;
}

bool missing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Opens without taking the file from its writer: h2mon appends, an operator's
// tool may rename or delete it meanwhile.
HANDLE open_shared(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

PathState describe(HANDLE handle, FileId& id, std::int64_t& size) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return PathState::kUnreadable;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return PathState::kDirectory;
    }
    id = FileId{info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    size = (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return PathState::kFile;
}

PathState open_failure(const std::string& path, std::string& error) {
    const DWORD code = GetLastError();
    error = system_message(path, code);
    return missing(code) ? PathState::kMissing : PathState::kUnreadable;
}

} // namespace

PathState look_at(const std::string& path, FileId& id, std::int64_t& size, std::string& error) {
    const HANDLE handle = open_shared(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return open_failure(path, error);
    }
    const PathState state = describe(handle, id, size);
    if (state == PathState::kUnreadable) {
        error = system_message(path, GetLastError());
    }
    CloseHandle(handle);
    return state;
}

bool modified_ns(const std::string& path, std::int64_t& unix_ns) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    // 100 ns steps since 1601-01-01, 11644473600 s before the Unix epoch.
    const std::int64_t ticks =
        (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    unix_ns = (ticks - 116444736000000000LL) * 100;
    return true;
}

PathState LogFile::open(const std::string& path, std::string& error) {
    close();
    const HANDLE handle = open_shared(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return open_failure(path, error);
    }
    std::int64_t size;
    const PathState state = describe(handle, id_, size);
    if (state != PathState::kFile) {
        if (state == PathState::kUnreadable) {
            error = system_message(path, GetLastError());
        }
        CloseHandle(handle);
        return state;
    }
    handle_ = handle;
    return state;
}

bool LogFile::is_open() const {
    return handle_ != nullptr;
}

void LogFile::close() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
}

std::int64_t LogFile::size() const {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle_, &size) ? size.QuadPart : -1;
}

long LogFile::read_at(std::int64_t offset, char* buffer, std::size_t count) const {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, &at)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<long>(got);
}

int LogFile::reader_descriptor() const {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle_, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(copy);
        return -1;
    }
    if (_lseeki64(fd, 0, SEEK_SET) != 0) {
        _close(fd);
        return -1;
    }
    return fd;
}
