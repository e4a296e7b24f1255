#include "h2mon/output.h"

#include "h2mon/console_writer.h"
#include "h2mon/csv_output.h"
#include "h2mon/io/log_file.h"
#include "h2mon/json_output.h"
#include "program/stoppable_write.h"
#include "telemetry/hex.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <utility>

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

void RecordText::print(const char* format, ...) {
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    std::string& text = text_for(false);
    if (static_cast<std::size_t>(length) < sizeof buffer) {
        text.append(buffer, static_cast<std::size_t>(length));
        return;
    }
    const std::size_t at = text.size();
    text.resize(at + static_cast<std::size_t>(length) + 1);
    va_start(arguments, format);
    std::vsnprintf(&text[at], static_cast<std::size_t>(length) + 1, format, arguments);
    va_end(arguments);
    text.pop_back(); // the NUL
}

void RecordText::append(const std::string& text) {
    text_for(false) += text;
}

void RecordText::pad(int count) {
    if (count > 0) {
        text_for(true).append(static_cast<std::size_t>(count), ' ');
    }
}

std::string& RecordText::text_for(bool padding) {
    if (pieces_.empty() || pieces_.back().padding != padding) {
        pieces_.push_back({padding, std::string()});
    }
    return pieces_.back().text;
}

bool write_stream(std::FILE* stream, const std::string& text, const StopSignals* stops) {
    std::string error;
    int number = 0;
    return write_unless_stopped(stream, text, stops, error, &number) != WriteEnd::kFailed ||
           !reader_gone(number);
}

bool write_record_text(const RecordText& text, std::FILE* out, CONSOLE_PUTCH putch,
                       const StopSignals* stops) {
    // Each piece is flushed as it is written: a record held back in a stream
    // buffer would be lost if the program were stopped other than by a key
    // press, and would reach a pipe or log reader late.
    for (const RecordText::Piece& piece : text.pieces()) {
        if (!piece.padding) {
            if (!write_stream(out, piece.text, stops)) {
                return false;
            }
            continue;
        }
        for (const char c : piece.text) {
            putch(static_cast<unsigned char>(c));
        }
    }
    return true;
}

bool print_record(OutputForm form, const std::uint8_t* frame, int received,
                  const RecordOutput& output) {
    RecordText text;
    switch (form) {
    case OutputForm::kCsv:
        print_csv_record(frame, output, text);
        break;
    case OutputForm::kJson:
        print_json_block(frame, output, text);
        break;
    case OutputForm::kHex:
        print_hex_dump(frame, received, text);
        break;
    }
    if (output.console != nullptr) {
        output.console->record(std::move(text));
        return true; // a console has no reader that could go away
    }
    return write_record_text(text, output.out, output.putch, output.stops);
}

void print_text(const std::string& text, const RecordOutput& output) {
    if (output.console != nullptr) {
        output.console->message(text);
        return;
    }
    write_stream(output.out, text, output.stops);
}

void write_log_row(const std::string& row, const RecordOutput& output) {
    if (output.log == nullptr) {
        return;
    }
    const int error = output.log->append(row);
    if (output.log_health != nullptr) {
        output.log_health->row_written(error);
    }
}

void print_hex_dump(const std::uint8_t* frame, int received, RecordText& text) {
    std::string line;
    append_hex(line, frame, static_cast<std::size_t>(received));
    line += '\n';
    text.append(line);
}
