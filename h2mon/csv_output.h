// The CSV form: a header line at start-up and one row per frame, on standard
// output and, when a log file is open, in the log file.
#pragma once

#include "telemetry/channels.h"
#include "h2mon/output.h"

#include <cstdint>
#include <cstdio>

// "MJD," and the names of the shown channels, comma-separated, ending the line
// after the table's last row.
void print_csv_header(std::FILE* out);

// One row: the MJD, then one field per shown channel. The log file gets its own
// clock reading for its MJD and the same fields.
void print_csv_record(const std::uint8_t* frame, const RecordOutput& output);

// One channel's field with its leading comma, to out and, when not null, to log.
void print_csv_field(const std::uint8_t* frame, const CHANNEL& channel, std::FILE* out,
                     std::FILE* log);
