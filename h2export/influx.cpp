#include "h2export/influx.h"

#include "program/atomic_file.h"
#include "program/stoppable_write.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

void append_influx_point(std::string& out, const std::string& maser, const LogRecord& record) {
    out += "maser,maser=";
    out += maser;
    char separator = ' ';
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        const ChannelKind kind = channel_kind(channel);
        if (kind == ChannelKind::kReserved) {
            continue;
        }
        out += separator;
        separator = ',';
        out += channel.name;
        out += '=';
        double code;
        if (kind == ChannelKind::kMeasurement) {
            out += record.row.field(row);
        } else if (record.row.value(row, &code)) {
            append_sample_value(out, code, true);
            out += 'i';
        } else {
            out += '"';
            out += record.row.field(row);
            out += '"';
        }
    }
    out += ' ';
    out += std::to_string(record.unix_ns);
    out += '\n';
}

std::string format_influx_state(const InfluxState& state) {
    std::ostringstream text;
    text << "h2export-influx-state 4\n";
    text << "output_size " << state.output_size << "\n";
    text << "since " << state.since_ns << "\n";
    for (const auto& [maser, position] : state.positions) {
        text << "position " << maser << " " << position.id.device << " " << position.id.number
             << " " << position.offset << " " << position.print_bytes << " " << position.print
             << " " << static_cast<int>(position.inside) << " " << position.after_ns << "\n";
    }
    return text.str();
}

bool parse_influx_state(const std::string& text, InfluxState& state) {
    std::istringstream in(text);
    std::string word;
    int version = 0;
    // Version 1 knew a log by its file number alone; version 2 did not say
    // whether the position was inside a line already reported; version 3 did
    // not place it in time.
    if (!(in >> word >> version) || word != "h2export-influx-state" || version < 1 || version > 4) {
        return false;
    }
    if (!(in >> word >> state.output_size) || word != "output_size") {
        return false;
    }
    state.since_ns = -1;
    if (version >= 4 && (!(in >> word >> state.since_ns) || word != "since")) {
        return false;
    }
    state.positions.clear();
    while (in >> word) {
        std::string maser;
        LogPosition position;
        int inside = 0;
        if (word != "position" ||
            !(in >> maser >> position.id.device >> position.id.number >> position.offset) ||
            (version >= 2 && !(in >> position.print_bytes >> position.print)) ||
            (version >= 3 && !(in >> inside)) || (version >= 4 && !(in >> position.after_ns)) ||
            position.offset < 0 || position.print_bytes < 0 || position.after_ns < -1 ||
            position.print_bytes > LogPosition::kPrintBytes || inside < 0 ||
            inside > static_cast<int>(LineAssembler::Inside::kHole)) {
            return false;
        }
        position.inside = static_cast<LineAssembler::Inside>(inside);
        state.positions[maser] = position;
    }
    return in.eof();
}

namespace {

bool read_file(const std::string& path, std::string& text, bool& exists) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    exists = file != nullptr;
    if (file == nullptr) {
        return errno == ENOENT;
    }
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

} // namespace

InfluxOutput::~InfluxOutput() {
    if (file_ != nullptr && file_ != stdout) {
        std::fclose(file_);
    }
}

bool InfluxOutput::open(std::string& error) {
    std::string text;
    bool exists = false;
    if (!read_file(state_path_, text, exists)) {
        error = state_path_ + ": " + std::strerror(errno);
        return false;
    }
    if (exists && !parse_influx_state(text, saved_)) {
        error = state_path_ + ": not a state file of h2export (remove it to start over)";
        return false;
    }
    if (path_ == "-") {
        file_ = stdout;
        saved_.output_size = -1;
    } else {
        std::error_code failure;
        const auto size = std::filesystem::file_size(path_, failure);
        // Points written after the last saved positions come again: drop them.
        if (!failure && exists && saved_.output_size >= 0 &&
            static_cast<std::int64_t>(size) > saved_.output_size) {
            std::filesystem::resize_file(path_, static_cast<std::uintmax_t>(saved_.output_size),
                                         failure);
            if (failure) {
                error = path_ + ": " + failure.message();
                return false;
            }
        }
        file_ = std::fopen(path_.c_str(), "ab");
        if (file_ == nullptr) {
            error = path_ + ": " + std::strerror(errno);
            return false;
        }
        // Batches are written whole; what fails is not kept in a buffer.
        std::setvbuf(file_, nullptr, _IONBF, 0);
        std::fseek(file_, 0, SEEK_END);
        saved_.output_size = std::ftell(file_);
    }
    pending_ = saved_;
    // Saved before the first point goes out, so that a stop before the first
    // batch's positions are saved cuts that batch off too.
    return exists || replace_file(state_path_, format_influx_state(saved_), true, error);
}

std::optional<LogPosition> InfluxOutput::resume_position(const std::string& maser) const {
    const auto found = saved_.positions.find(maser);
    if (found == saved_.positions.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::string> InfluxOutput::known_masers() const {
    std::vector<std::string> masers;
    for (const auto& [maser, position] : saved_.positions) {
        masers.push_back(maser);
    }
    return masers;
}

void InfluxOutput::set_known_since(std::int64_t since_ns) {
    if (pending_.since_ns != since_ns) {
        pending_.since_ns = since_ns;
        dirty_ = true;
    }
}

void InfluxOutput::add(const std::string& maser, const LogRecord& record) {
    append_influx_point(batch_, maser, record);
}

void InfluxOutput::consumed(const std::string& maser, const LogPosition& position) {
    LogPosition& kept = pending_.positions[maser];
    if (kept.id != position.id || kept.offset != position.offset ||
        kept.print_bytes != position.print_bytes || kept.print != position.print ||
        kept.inside != position.inside || kept.after_ns != position.after_ns) {
        kept = position;
        dirty_ = true;
    }
    if (batch_.size() >= kBatchBytes) {
        std::string error;
        if (!commit(error)) {
            std::fprintf(stderr, "h2export: %s\n", error.c_str());
        }
    }
}

bool InfluxOutput::write_batch(std::string& error) {
    if (batch_.empty()) {
        return true;
    }
    if (file_ == stdout) {
        switch (write_unless_stopped(file_, batch_, stops_, error)) {
        case WriteEnd::kWritten:
            batch_.clear();
            return true;
        case WriteEnd::kStopped:
            error = "standard output: stopped while its reader took nothing; the points not "
                    "written come at the next start";
            return false;
        case WriteEnd::kFailed:
            error = "standard output: " + error;
            return false;
        }
    }
    // The file is unbuffered: a failed write leaves nothing waiting in a buffer.
    std::error_code failure;
    const auto before = std::filesystem::file_size(path_, failure);
    if (failure) {
        error = path_ + ": " + failure.message();
        return false;
    }
    if (std::fwrite(batch_.data(), 1, batch_.size(), file_) == batch_.size() &&
        sync_to_disk(file_)) {
        const auto after = std::filesystem::file_size(path_, failure);
        if (!failure) {
            pending_.output_size = static_cast<std::int64_t>(after);
            batch_.clear();
            return true;
        }
    }
    error = path_ + ": " + (failure ? failure.message() : std::strerror(errno));
    // Part of the batch may have gone out (a full disk): cut it off, so that
    // the next attempt writes the batch whole after the last whole point and
    // the saved size stays what the file holds.
    std::clearerr(file_);
    std::filesystem::resize_file(path_, before, failure);
    if (failure) {
        error += "; cutting the part written back off: " + failure.message();
    }
    return false;
}

bool InfluxOutput::commit(std::string& error) {
    if (!dirty_ && batch_.empty()) {
        return true;
    }
    if (!write_batch(error)) {
        return false;
    }
    if (!replace_file(state_path_, format_influx_state(pending_), true, error)) {
        return false;
    }
    saved_ = pending_;
    dirty_ = false;
    return true;
}
