#include "h2mon/csv_output.h"

#include "telemetry/log_row.h"

std::string csv_header_line() {
    return csv_header() + "\n";
}

void print_csv_record(const std::uint8_t* frame, const RecordOutput& output, RecordText& text) {
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
    text.append(csv_mjd(output.clock(nullptr)) + fields);
}
