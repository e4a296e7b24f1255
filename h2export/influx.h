// InfluxDB line protocol: one point per record, stamped with the record's own
// time, to a file or standard output; and the positions that let a restarted
// h2export go on exactly where it stopped.
#pragma once

#include "h2export/log_follower.h"
#include "h2export/log_record.h"
#include "program/stop_signals.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Appends the point of `record` for `maser`: measurement "maser", tag maser,
// a field per channel with its value as logged (codes as integers, AuxFLL3
// as a string of its hexadecimal digits; reserved fields left out), and the
// time in nanoseconds.
void append_influx_point(std::string& out, const std::string& maser, const LogRecord& record);

// The state file: per maser the log and the byte after the last record whose
// point was written; how long the output file was then; and since when
// h2export has known of every maser whose log is there (each has a position):
// the rows of a maser new since, rotated or not, are all unread.
struct InfluxState {
    std::int64_t output_size = -1; // -1: output is not a file
    std::int64_t since_ns = -1;    // -1: not known (a state of an older h2export)
    std::map<std::string, LogPosition> positions;
};

std::string format_influx_state(const InfluxState& state);
bool parse_influx_state(const std::string& text, InfluxState& state);

// Points go to the output in batches. A batch is written, flushed to the disk,
// then the positions after it are saved (atomically). After a stop at any
// moment, a file output is cut back to the length the saved positions belong
// to, so that the next run neither repeats nor loses a point. On standard
// output a point written just before a stop can come again after the restart;
// InfluxDB keeps one point per series and time, so it is stored once. A stop
// while the reader of standard output takes nothing ends the wait for it
// (given `stops`), and the line being written may stay cut short.
class InfluxOutput {
public:
    InfluxOutput(std::string path, std::string state_path, const StopSignals* stops = nullptr)
        : path_(std::move(path)), state_path_(std::move(state_path)), stops_(stops) {}
    InfluxOutput(const InfluxOutput&) = delete;
    InfluxOutput& operator=(const InfluxOutput&) = delete;
    ~InfluxOutput();

    bool open(std::string& error);

    std::optional<LogPosition> resume_position(const std::string& maser) const;
    // The masers the saved state has positions of.
    std::vector<std::string> known_masers() const;
    // Since when the saved state knew of every maser (-1: not known), and
    // since when this run does, saved from its first batch on.
    std::int64_t known_since_ns() const { return saved_.since_ns; }
    void set_known_since(std::int64_t since_ns);

    void add(const std::string& maser, const LogRecord& record);
    // Every point of `maser` up to `position` has been added.
    void consumed(const std::string& maser, const LogPosition& position);
    // Writes the batch and saves the positions.
    bool commit(std::string& error);

    // A batch larger than this is committed while a long log is read.
    static constexpr std::size_t kBatchBytes = 1 << 20;

private:
    // Writes the batch whole, or leaves the file as it was.
    bool write_batch(std::string& error);

    std::string path_;
    std::string state_path_;
    const StopSignals* stops_;
    std::FILE* file_ = nullptr;
    InfluxState saved_;
    InfluxState pending_;
    std::string batch_;
    bool dirty_ = false;
};
