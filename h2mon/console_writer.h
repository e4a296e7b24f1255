// The console writer: what h2mon shows on a console is written by a thread of
// its own, so that a console that holds its output (after Ctrl+S or Pause,
// during a selection in a Windows console window, a terminal no one reads)
// never holds the acquisition loop: the polls go on and every row reaches the
// log. What waits for the console is bounded: while a queue's worth of records
// and notices waits, further ones are dropped and counted, and once the console
// takes output again a notice on standard error says how many it missed.
#pragma once

#include "h2mon/output.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Where the writer's text goes; each call may wait for as long as the console
// holds its output.
struct ConsoleSink {
    std::function<void(const std::string&)> out; // standard output
    std::function<void(const std::string&)> err; // standard error
    CONSOLE_PUTCH putch; // the console device (the JSON-like form's padding)
};

// The sink for the program's own standard output, standard error and console.
ConsoleSink standard_console_sink();

class ConsoleWriter {
public:
    // Records and notices that may wait for the console.
    static constexpr std::size_t kQueueLength = 64;

    explicit ConsoleWriter(ConsoleSink sink, std::size_t queue_length = kQueueLength);
    ~ConsoleWriter();
    ConsoleWriter(const ConsoleWriter&) = delete;
    ConsoleWriter& operator=(const ConsoleWriter&) = delete;

    // A record for standard output; dropped and counted when the queue is full.
    void record(RecordText text);
    // A notice for standard error (a line without its line end); dropped and
    // counted like a record.
    void notice(const std::string& line);
    // Text for standard output that is no record (the CSV header, the message
    // that ends the run); never dropped.
    void message(const std::string& text);

    // Waits until everything handed over has been written, at most `wait`. No
    // more is written afterwards: what a console still holds back then is left
    // to it. True when everything was written.
    bool finish(std::chrono::milliseconds wait);

    // The line that tells of records and notices a console missed.
    static std::string missed_notice(std::int64_t records, std::int64_t notices);

private:
    struct State;
    void enqueue(bool to_err, RecordText text, bool droppable);

    std::shared_ptr<State> state_;
};
