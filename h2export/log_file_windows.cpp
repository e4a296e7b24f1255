#include "h2export/log_file.h"

#include <windows.h>

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
