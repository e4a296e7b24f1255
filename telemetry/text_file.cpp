#include "telemetry/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool read_text_file(const std::string& path, std::string* text, std::vector<std::string>& errors) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (errno != ENOENT) {
            errors.push_back(path + ": " + std::strerror(errno));
        }
        return false;
    }
    text->clear();
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text->append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        errors.push_back(path + ": " + std::strerror(error));
    }
    return !failed;
}
