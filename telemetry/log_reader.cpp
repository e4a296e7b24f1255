#include "telemetry/log_reader.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
// Blocks a file is read ahead by: one being read, the others filled by the
// thread, which once they are all full waits until half of them are free.
constexpr int kBlocksAhead = 6;

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
    std::error_code ignored;
    may_read_ahead_ = !standard_input && std::filesystem::is_regular_file(path, ignored);
    return true;
}

std::size_t LogReader::read_block(gzFile_s* file, char* into, std::size_t size,
                                  std::string& failure) {
    const int got = gzread(file, into, static_cast<unsigned>(size));
    int code = Z_OK;
    const char* reason = gzerror(file, &code);
    // A gzip stream cut short reads as its end with Z_BUF_ERROR set: damage too.
    if (got < 0 || (got == 0 && code != Z_OK)) {
        // zlib's text lives in the stream and goes with it: copied now, without
        // the "path: " zlib puts before it.
        const std::string_view text = reason;
        const std::size_t after_path = text.rfind(": ");
        failure = code == Z_ERRNO ? std::strerror(errno)
                                  : text.substr(after_path == text.npos ? 0 : after_path + 2);
        return 0;
    }
    return static_cast<std::size_t>(got);
}

bool LogReader::refill() {
    if (done_ || !file_) {
        return false;
    }
    std::size_t got = 0;
    if (first_ || !may_read_ahead_) {
        own_block_.resize(first_ ? kFirstBlock : kBlock);
        first_ = false;
        got = read_block(file_.get(), own_block_.data(), own_block_.size(), failure_);
        block_ = own_block_.data();
        next_end_ = last_end_ = nullptr;
        indexed_ = 0;
    } else {
        if (!ahead_) {
            // The block read in turn is no longer needed.
            own_block_ = std::vector<char>();
            gzFile_s* const file = file_.get();
            ahead_ = std::make_unique<ReadAhead>(
                [file](char* into, std::size_t size, std::string& failure) {
                    return read_block(file, into, size, failure);
                },
                kBlock, kBlocksAhead);
        }
        const ReadAhead::Block block = ahead_->next();
        got = block.bytes.size();
        block_ = block.bytes.data();
        next_end_ = block.line_ends;
        last_end_ = block.line_ends + block.line_end_count;
        indexed_ = block.indexed;
        if (got == 0) {
            failure_ = ahead_->failure();
        }
    }
    at_ = 0;
    end_ = got;
    done_ = got == 0;
    return got > 0;
}

std::string LogReader::damage(std::uint64_t rows) const {
    return name_ + ": damaged after " + std::to_string(rows) + " row" + (rows == 1 ? "" : "s") +
           ": " + failure_;
}
