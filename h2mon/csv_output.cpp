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
    std::string fields;
    fields.reserve(512);
    append_csv_fields(fields, frame);
    fields += '\n';
    // The log first: what is shown on standard output can never hold up the
    // row that is kept. A reading of its own: the log row is stamped when it is
    // written.
    if (output.log != nullptr) {
        write_log_row(csv_mjd(output.clock(nullptr)) + fields, output);
    }
    write_text(output.out, csv_mjd(output.clock(nullptr)) + fields);
}
