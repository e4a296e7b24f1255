#include "h2export/rotated_logs.h"

#include "telemetry/mjd_time.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

bool named_after(const std::string& name, const std::string& log_name) {
    return name.size() > log_name.size() + 1 && name.compare(0, log_name.size(), log_name) == 0 &&
           std::strchr(".-_", name[log_name.size()]) != nullptr;
}

// The stamp of the first whole line of `head` that starts with an MJD.
std::optional<std::int64_t> first_stamp(std::string_view head) {
    for (std::size_t end; (end = head.find('\n')) != std::string_view::npos;
         head.remove_prefix(end + 1)) {
        std::int64_t ns = 0;
        if (mjd_unix_ns(head.substr(0, std::min(head.find(','), end)), &ns)) {
            return ns;
        }
    }
    return std::nullopt;
}

bool read_head(RotatedFile& file) {
    RotatedReader reader;
    std::string error;
    if (!reader.open(file.path, 0, error)) {
        return false;
    }
    file.head.resize(RotatedFile::kHeadBytes);
    std::size_t got = 0;
    for (long part; got < file.head.size() &&
                    (part = reader.read(file.head.data() + got, file.head.size() - got)) > 0;) {
        got += static_cast<std::size_t>(part);
    }
    file.head.resize(got);
    file.compressed = reader.compressed();
    file.first_ns = first_stamp(file.head);
    return true;
}

std::vector<RotatedFile> rotated_files(const std::string& log) {
    std::vector<RotatedFile> files;
    const fs::path path(log);
    const std::string log_name = path.filename().string();
    const fs::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code failure;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        RotatedFile file;
        file.path = it->path().string();
        std::string error;
        if (named_after(it->path().filename().string(), log_name) &&
            look_at(file.path, file.id, file.size, error) == PathState::kFile && read_head(file)) {
            files.push_back(std::move(file));
        }
    }
    return files;
}

bool holds(const RotatedFile& file, const LogPosition& saved) {
    if (saved.print_bytes == 0) {
        return !file.compressed && file.id == saved.id && file.size >= saved.offset;
    }
    return static_cast<std::int64_t>(file.head.size()) >= saved.print_bytes &&
           (file.compressed || file.size >= saved.offset) &&
           content_print(std::string_view(file.head).substr(
               0, static_cast<std::size_t>(saved.print_bytes))) == saved.print;
}

} // namespace

LogPosition RotatedFile::at(std::int64_t offset, LineAssembler::Inside inside) const {
    const std::size_t bytes = std::min<std::size_t>(head.size(), LogPosition::kPrintBytes);
    return {id, offset, static_cast<std::int64_t>(bytes),
            content_print(std::string_view(head).substr(0, bytes)), inside};
}

std::vector<RotatedFile> rotated_since(const std::string& log, const LogPosition& saved) {
    std::vector<RotatedFile> files = rotated_files(log);
    // Oldest first; of two files that start alike (a file being compressed
    // and its growing .gz), the plain one, which is whole.
    std::stable_sort(files.begin(), files.end(), [](const RotatedFile& a, const RotatedFile& b) {
        return a.first_ns != b.first_ns ? a.first_ns < b.first_ns : a.compressed < b.compressed;
    });
    files.erase(std::unique(files.begin(), files.end(),
                            [](const RotatedFile& a, const RotatedFile& b) {
                                const std::string_view shorter =
                                    a.head.size() < b.head.size() ? a.head : b.head;
                                const std::string_view longer =
                                    a.head.size() < b.head.size() ? b.head : a.head;
                                return a.first_ns == b.first_ns &&
                                       longer.substr(0, shorter.size()) == shorter;
                            }),
                files.end());
    const auto found = std::find_if(files.begin(), files.end(),
                                    [&](const RotatedFile& file) { return holds(file, saved); });
    if (found == files.end()) {
        return {};
    }
    // Without a row to order by, only the file itself is known to come next.
    std::vector<RotatedFile> chain{*found};
    for (auto newer = found + 1; found->first_ns && newer != files.end(); ++newer) {
        if (newer->first_ns > found->first_ns) {
            chain.push_back(std::move(*newer));
        }
    }
    return chain;
}

void RotatedReader::GzCloser::operator()(gzFile_s* file) const {
    gzclose(file);
}

bool RotatedReader::open(const std::string& path, std::int64_t offset, std::string& error) {
    error_.clear();
    errno = 0;
    file_.reset(gzopen(path.c_str(), "rb"));
    if (!file_) {
        error = path + ": " + (errno != 0 ? std::strerror(errno) : "cannot open");
        return false;
    }
    gzbuffer(file_.get(), 64 * 1024);
    // Asked before the first read, zlib looks at the first bytes for gzip's magic.
    compressed_ = gzdirect(file_.get()) == 0;
    if (offset > 0 && gzseek(file_.get(), static_cast<z_off_t>(offset), SEEK_SET) < 0) {
        error = path + ": cannot go to byte " + std::to_string(offset);
        file_.reset();
        return false;
    }
    return true;
}

long RotatedReader::read(char* buffer, std::size_t count) {
    if (!file_) {
        return 0;
    }
    const int got = gzread(file_.get(), buffer, static_cast<unsigned>(count));
    int code = Z_OK;
    const char* reason = gzerror(file_.get(), &code);
    // A compressed file cut short reads as its end with Z_BUF_ERROR set.
    if (got < 0 || (got == 0 && code != Z_OK)) {
        error_ = code == Z_ERRNO ? std::strerror(errno) : reason; // copied: it goes with the file
        file_.reset();
        return -1;
    }
    return got;
}
