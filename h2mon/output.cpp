#include "h2mon/output.h"

#include "h2mon/csv_output.h"
#include "h2mon/json_output.h"
#include "telemetry/hex.h"

#include <cerrno>
#include <cstring>
#include <string>

bool output_form_from_name(const char* name, OutputForm* form) {
    static const struct {
        const char* name;
        OutputForm form;
    } forms[] = {{"hex", OutputForm::kHex}, {"json", OutputForm::kJson}, {"csv", OutputForm::kCsv}};
    for (const auto& candidate : forms) {
        if (_stricmp(name, candidate.name) == 0) {
            *form = candidate.form;
            return true;
        }
    }
    return false;
}

namespace {

// Whether a failed write to standard output means its reader has gone. On
// Windows a pipe whose reader has gone fails with ERROR_NO_DATA, which the C
// runtime reports as EINVAL.
bool reader_gone(int error) {
#ifdef _WIN32
    if (error == EINVAL && GetLastError() == ERROR_NO_DATA) {
        return true;
    }
#endif
    return error == EPIPE;
}

} // namespace

bool print_record(OutputForm form, const std::uint8_t* frame, int received,
                  const RecordOutput& output) {
    switch (form) {
    case OutputForm::kCsv:
        print_csv_record(frame, output);
        break;
    case OutputForm::kJson:
        print_json_block(frame, output);
        break;
    case OutputForm::kHex:
        print_hex_dump(frame, received, output.out);
        break;
    }
    // A record held back in a stream buffer would be lost if the program were
    // stopped other than by a key press, and would reach a pipe or log reader late.
    std::fflush(output.out);
    return !(std::ferror(output.out) != 0 && reader_gone(errno));
}

void write_log_row(const std::string& row, const RecordOutput& output) {
    if (output.log == nullptr) {
        return;
    }
    errno = 0;
    std::fwrite(row.data(), 1, row.size(), output.log);
    std::fflush(output.log);
    int error = 0;
    if (std::ferror(output.log) != 0) {
        error = errno != 0 ? errno : EIO;
        std::clearerr(output.log);
    }
    if (output.log_health != nullptr) {
        output.log_health->row_written(error);
    }
}

void print_hex_dump(const std::uint8_t* frame, int received, std::FILE* out) {
    std::string line;
    append_hex(line, frame, static_cast<std::size_t>(received));
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
}
