#include "h2mon/console_writer.h"

#include "h2mon/io/console_stream.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

struct Item {
    bool to_err;                     // standard error, else standard output
    bool droppable;                  // a record or a notice, not a message
    RecordText text;                 // empty for an item that only tells of what was missed
    std::int64_t missed_records = 0; // dropped before this item, told before it
    std::int64_t missed_notices = 0;
};

} // namespace

// Shared by the writer and its thread, so that a thread still held by the
// console when the program ends never finds it gone.
struct ConsoleWriter::State {
    ConsoleSink sink;
    std::size_t queue_length;

    std::mutex mutex;
    std::condition_variable changed; // an item queued, or the end asked for
    std::condition_variable idle;    // the queue empty and nothing being written
    std::deque<Item> queue;
    std::size_t droppable_waiting = 0;
    std::int64_t dropped_records = 0; // not yet told
    std::int64_t dropped_notices = 0;
    bool started = false; // else the writer writes on the caller's thread
    bool writing = false;
    bool closing = false;   // write what waits, then end
    bool abandoned = false; // write nothing more
    std::thread thread;

    void write(const Item& item) const {
        if (item.missed_records != 0 || item.missed_notices != 0) {
            sink.err(missed_notice(item.missed_records, item.missed_notices) + "\n");
        }
        for (const RecordText::Piece& piece : item.text.pieces()) {
            if (piece.padding) {
                for (const char c : piece.text) {
                    sink.putch(static_cast<unsigned char>(c));
                }
            } else {
                (item.to_err ? sink.err : sink.out)(piece.text);
            }
        }
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return abandoned || closing || !queue.empty(); });
            if (abandoned || queue.empty()) {
                return;
            }
            Item item = std::move(queue.front());
            queue.pop_front();
            droppable_waiting -= item.droppable ? 1 : 0;
            writing = true;
            lock.unlock();
            write(item);
            lock.lock();
            writing = false;
            idle.notify_all();
        }
    }
};

ConsoleSink standard_console_sink() {
    return {[](const std::string& text) { write_to_console(stdout, text.data(), text.size()); },
            [](const std::string& text) { write_to_console(stderr, text.data(), text.size()); },
            console_putch};
}

ConsoleWriter::ConsoleWriter(ConsoleSink sink, std::size_t queue_length)
    : state_(std::make_shared<State>()) {
    state_->sink = std::move(sink);
    state_->queue_length = queue_length;
    // The standard library reports a thread it cannot start only by throwing;
    // the writer then writes on the caller's thread, as without it.
    try {
        state_->thread = std::thread([state = state_] { state->run(); });
        state_->started = true;
    } catch (const std::system_error&) {
    }
}

ConsoleWriter::~ConsoleWriter() {
    finish(std::chrono::milliseconds(0));
}

void ConsoleWriter::record(RecordText text) {
    enqueue(false, std::move(text), true);
}

void ConsoleWriter::notice(const std::string& line) {
    RecordText text;
    text.append(line + "\n");
    enqueue(true, std::move(text), true);
}

void ConsoleWriter::message(const std::string& text) {
    RecordText message;
    message.append(text);
    enqueue(false, std::move(message), false);
}

void ConsoleWriter::enqueue(bool to_err, RecordText text, bool droppable) {
    Item item{to_err, droppable, std::move(text)};
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->started) {
        lock.unlock();
        state_->write(item);
        return;
    }
    if (state_->closing) {
        return;
    }
    if (droppable && state_->droppable_waiting >= state_->queue_length) {
        ++(to_err ? state_->dropped_notices : state_->dropped_records);
        return;
    }
    item.missed_records = std::exchange(state_->dropped_records, 0);
    item.missed_notices = std::exchange(state_->dropped_notices, 0);
    state_->droppable_waiting += droppable ? 1 : 0;
    state_->queue.push_back(std::move(item));
    // Woken after the lock is let go, the thread does not wake only to wait for it.
    lock.unlock();
    state_->changed.notify_one();
}

bool ConsoleWriter::finish(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->started) {
        return true;
    }
    if (!state_->thread.joinable()) { // finished before
        return state_->queue.empty() && !state_->writing;
    }
    if (!state_->closing && (state_->dropped_records != 0 || state_->dropped_notices != 0)) {
        Item told{true, false, RecordText()};
        told.missed_records = std::exchange(state_->dropped_records, 0);
        told.missed_notices = std::exchange(state_->dropped_notices, 0);
        state_->queue.push_back(std::move(told));
    }
    state_->closing = true;
    state_->changed.notify_one();
    const bool written = state_->idle.wait_for(
        lock, wait, [this] { return state_->queue.empty() && !state_->writing; });
    if (!written) {
        // The thread is held by the console; it ends with the program.
        state_->abandoned = true;
        lock.unlock();
        state_->thread.detach();
        return false;
    }
    lock.unlock();
    state_->thread.join();
    return true;
}

std::string ConsoleWriter::missed_notice(std::int64_t records, std::int64_t notices) {
    std::string what;
    if (records != 0) {
        what = std::to_string(records) + (records == 1 ? " record" : " records");
    }
    if (notices != 0) {
        what += (what.empty() ? "" : " and ") + std::to_string(notices) +
                (notices == 1 ? " notice" : " notices");
    }
    const bool one = records + notices == 1;
    return what + (one ? " was" : " were") + " not shown on the console while it held its output";
}
