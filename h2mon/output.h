// Turning an accepted telemetry frame into one record on standard output (and,
// for CSV, the log file), in the form chosen at start-up.
#pragma once

#include "h2mon/io/console_device.h"
#include "h2mon/mjd.h"
#include "h2mon/notices.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class ConsoleWriter;
class LogFile;
class StopSignals;

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
    LogFile* log = nullptr;          // the CSV log file, or none
    LogHealth* log_health = nullptr; // hears how each write to the log went
    // Ends a wait for a reader of standard output that takes nothing; none: the
    // wait lasts as long as the reader takes.
    const StopSignals* stops = nullptr;
    bool console_mode = false;    // colours and alignment padding for a console
    bool escape_sequences = true; // console mode's bold; off where they would show as text
    MjdClock clock = current_mjd;
    CONSOLE_PUTCH putch = console_putch; // receives the JSON-like form's alignment padding
    // When standard output is a console: what goes to it is handed to this
    // writer, so that a console that holds its output never holds the loop.
    ConsoleWriter* console = nullptr;
};

// A record's text as it goes out, in order: text for standard output and, in
// the JSON-like form's console mode, alignment padding for the console device.
class RecordText {
public:
    struct Piece {
        bool padding; // spaces for the console device, not standard output
        std::string text;
    };

    // Formatted text for standard output.
    void print(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void append(const std::string& text);
    // `count` spaces for the console device; none when `count` is 0 or less.
    void pad(int count);

    const std::vector<Piece>& pieces() const {
        return pieces_;
    }

private:
    std::string& text_for(bool padding);

    std::vector<Piece> pieces_;
};

// Writes `text` to `stream` (a file or a pipe, not a console) and flushes it.
// A stop request ends a wait for a reader that takes nothing (what was written
// stays written). False when the stream's reader has gone away (a closed pipe).
bool write_stream(std::FILE* stream, const std::string& text, const StopSignals* stops);

// Writes the pieces in order: standard output's to `out` (write_stream), the
// padding to the console device through `putch`. Standard output is flushed
// before padding, so that on a console the padding lands after the text printed
// before it, and at the end, so that the record is out as soon as it is
// complete. False when standard output's reader has gone away.
bool write_record_text(const RecordText& text, std::FILE* out, CONSOLE_PUTCH putch,
                       const StopSignals* stops = nullptr);

// Prints one record of the given form for a frame of `received` bytes: a CSV
// row goes to the log file first, then the record to standard output (or to its
// console writer). False when standard output's reader has gone away (a closed
// pipe): nothing printed from then on can be seen.
bool print_record(OutputForm form, const std::uint8_t* frame, int received,
                  const RecordOutput& output);

// Text that is no record (the CSV header, the message that ends the run) on
// standard output, after every record before it; never dropped.
void print_text(const std::string& text, const RecordOutput& output);

// Writes one row to the log file, if there is one, and tells the log's health
// how it went. A row that fails is lost whole (LogFile) and never reaches the
// file later, behind rows written after it.
void write_log_row(const std::string& row, const RecordOutput& output);

// Every received byte in buffer order as two upper-case hexadecimal digits, then a
// line end. Carries no timestamp.
void print_hex_dump(const std::uint8_t* frame, int received, RecordText& text);
