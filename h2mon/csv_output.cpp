#include "h2mon/csv_output.h"

#include "telemetry/log_row.h"

namespace {

void write_text(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

} // namespace

void print_csv_header(std::FILE* out) {
    write_text(out, csv_header() + "\n");
}

void print_csv_record(const std::uint8_t* frame, const RecordOutput& output) {
    write_text(output.out, csv_mjd(output.clock(nullptr)));
    if (output.log != nullptr) {
        // A reading of its own: the log row is stamped when it is written.
        write_text(output.log, csv_mjd(output.clock(nullptr)));
    }
    std::string fields;
    fields.reserve(512);
    append_csv_fields(fields, frame);
    fields += '\n';
    write_text(output.out, fields);
    if (output.log != nullptr) {
        write_text(output.log, fields);
    }
}
