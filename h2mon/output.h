// Turning an accepted telemetry frame into one record on standard output (and,
// for CSV, the log file), in the form chosen at start-up.
#pragma once

#include "h2mon/mjd.h"
#include "h2mon/notices.h"

#include <cstdint>
#include <cstdio>
#include <string>

enum class OutputForm { kCsv = 0, kHex = 1, kJson = 2 };

// Chooses the form named by the fmt text, ignoring case: "hex", "json" or "csv".
// Returns false, leaving form unchanged, for any other text.
bool output_form_from_name(const char* name, OutputForm* form);

// A clock reading as an MJD; receives null for the clock copy.
typedef double (*MjdClock)(SYSTEMTIME* clock_copy);
// Writes one character straight to the console device.
typedef int (*CONSOLE_PUTCH)(int character);

// Where a record goes and what it is stamped with.
struct RecordOutput {
    std::FILE* out = stdout;         // standard output
    std::FILE* log = nullptr;        // the CSV log file (unbuffered), or none
    LogHealth* log_health = nullptr; // hears how each write to the log went
    bool console_mode = false;       // colours and alignment padding for a console
    bool escape_sequences = true;    // console mode's bold; off where they would show as text
    MjdClock clock = current_mjd;
    CONSOLE_PUTCH putch = _putch; // receives the JSON-like form's alignment padding
};

// Prints one record of the given form for a frame of `received` bytes, then
// flushes standard output and the log file so that every record is out as soon as
// it is complete. False when standard output's reader has gone away (a closed
// pipe): nothing printed from then on can be seen.
bool print_record(OutputForm form, const std::uint8_t* frame, int received,
                  const RecordOutput& output);

// Writes one row to the log file, if there is one, and tells the log's health
// how it went. Unbuffered, a row that fails is lost whole and never reaches the
// file later, behind rows written after it.
void write_log_row(const std::string& row, const RecordOutput& output);

// Every received byte in buffer order as two upper-case hexadecimal digits, then a
// line end. Carries no timestamp.
void print_hex_dump(const std::uint8_t* frame, int received, std::FILE* out);
