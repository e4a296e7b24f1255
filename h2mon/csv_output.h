// The CSV form: a header line at start-up and one row per frame, on standard
// output and, when a log file is open, in the log file.
#pragma once

#include "h2mon/output.h"

#include <cstdint>
#include <cstdio>
#include <string>

// "MJD," and the names of the shown channels, comma-separated, ending the line
// after the table's last row.
std::string csv_header_line();

// One row (written by telemetry/log_row.h): the MJD, then one field per shown
// channel, written to the log file at once and added to `text` for standard
// output. The log file gets its own clock reading for its MJD and the same fields.
void print_csv_record(const std::uint8_t* frame, const RecordOutput& output, RecordText& text);
