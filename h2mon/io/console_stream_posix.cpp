#include "h2mon/io/console_stream.h"

#include <cerrno>
#include <unistd.h>

bool stream_is_console(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

bool write_to_console(std::FILE* stream, const char* text, std::size_t size) {
    const int fd = fileno(stream);
    while (size > 0) {
        const ssize_t written = write(fd, text, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue; // Ctrl-Z or its continuation handled on this thread
            }
            return false;
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}
