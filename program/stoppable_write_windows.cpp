#include "program/stoppable_write.h"

#include <cerrno>
#include <cstring>

// A console control event comes on a thread of its own and ends the process
// after a few seconds anyway; the write itself blocks as it always does.
WriteEnd write_unless_stopped(std::FILE* file, std::string_view bytes, const StopSignals*,
                              std::string& error, int* error_number) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0) {
        const int number = errno;
        error = std::strerror(number);
        if (error_number != nullptr) {
            *error_number = number;
        }
        return WriteEnd::kFailed;
    }
    return WriteEnd::kWritten;
}
