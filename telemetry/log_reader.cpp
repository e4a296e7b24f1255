#include "telemetry/log_reader.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The first read takes a few KiB, enough for the first records, so that a
// program that looks at the start of many logs before reading them holds
// little for each; later reads take big blocks.
constexpr std::size_t kFirstBlock = 4 * 1024;
constexpr std::size_t kBlock = 256 * 1024;

gzFile open_standard_input() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    const int fd = _dup(_fileno(stdin));
#else
    const int fd = dup(STDIN_FILENO);
#endif
    if (fd < 0) {
        return nullptr;
    }
    gzFile file = gzdopen(fd, "rb");
    if (file == nullptr) {
#ifdef _WIN32
        _close(fd);
#else
        close(fd);
#endif
    }
    return file;
}

} // namespace

void LogReader::GzCloser::operator()(gzFile_s* file) const {
    gzclose(file);
}

LogReader::LogReader(std::size_t max_line) : lines_(max_line) {}
LogReader::~LogReader() = default;
LogReader::LogReader(LogReader&&) noexcept = default;
LogReader& LogReader::operator=(LogReader&&) noexcept = default;

bool LogReader::open(const std::string& path, std::string& error) {
    const bool standard_input = path == "-";
    name_ = standard_input ? "standard input" : path;
    errno = 0;
    file_.reset(standard_input ? open_standard_input() : gzopen(path.c_str(), "rb"));
    if (!file_) {
        error = "cannot open " + name_ + ": " + (errno != 0 ? std::strerror(errno) : "no memory");
        return false;
    }
    return true;
}

bool LogReader::refill() {
    if (done_ || !file_) {
        return false;
    }
    block_.resize(first_ ? kFirstBlock : kBlock);
    first_ = false;
    const int got = gzread(file_.get(), block_.data(), static_cast<unsigned>(block_.size()));
    int code = Z_OK;
    const char* reason = gzerror(file_.get(), &code);
    // A gzip stream cut short reads as its end with Z_BUF_ERROR set: damage too.
    if (got < 0 || (got == 0 && code != Z_OK)) {
        // zlib's text lives in the stream and goes with it: copied now, without
        // the "path: " zlib puts before it.
        const std::string_view text = reason;
        const std::size_t after_path = text.rfind(": ");
        failure_ = code == Z_ERRNO ? std::strerror(errno)
                                   : text.substr(after_path == text.npos ? 0 : after_path + 2);
        done_ = true;
        return false;
    }
    at_ = 0;
    end_ = static_cast<std::size_t>(got);
    done_ = got == 0;
    return got > 0;
}

std::string LogReader::damage(std::uint64_t rows) const {
    return name_ + ": damaged after " + std::to_string(rows) + " row" + (rows == 1 ? "" : "s") +
           ": " + failure_;
}
