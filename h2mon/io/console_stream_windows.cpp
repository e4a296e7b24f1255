#include "h2mon/io/console_stream.h"

#include "h2mon/win32/win32.h"

#include <string>

namespace {

// The system's handle behind standard output or standard error.
HANDLE handle_of(std::FILE* stream) {
    return GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

} // namespace

bool stream_is_console(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = handle_of(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetConsoleMode(handle, &mode) != 0;
}

bool write_to_console(std::FILE* stream, const char* text, std::size_t size) {
    std::string lines;
    lines.reserve(size + size / 32);
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] == '\n') {
            lines += '\r';
        }
        lines += text[i];
    }
    const HANDLE handle = handle_of(stream);
    const char* next = lines.data();
    std::size_t left = lines.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, next, static_cast<DWORD>(left), &written, nullptr) || written == 0) {
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}
