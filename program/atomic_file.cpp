#include "program/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool sync_to_disk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return ::fsync(fileno(file)) == 0;
#endif
}

bool replace_file(const std::string& path, const std::string& text, bool durable,
                  std::string& error, const std::string& temporary_path) {
    // A name that readers of the file skip.
    const std::string temporary = temporary_path.empty() ? path + ".tmp" : temporary_path;
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    // Unbuffered: the whole text goes out in one write.
    std::setvbuf(file, nullptr, _IONBF, 0);
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = ok && (durable ? sync_to_disk(file) : std::fflush(file) == 0);
    const int saved_errno = errno;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = temporary + ": " + std::strerror(saved_errno != 0 ? saved_errno : errno);
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        error = path + ": " + failure.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
