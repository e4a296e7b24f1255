// The console writer against a console the test holds and releases: order kept,
// what waits bounded, what is dropped counted and told, and a held console that
// never holds the end of the run.
#include "h2mon/console_writer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A console whose output the test holds (every write then waits) and lets go.
// What it shows: standard output as written, standard error in [brackets], the
// console device's characters with each space as ~.
class HeldConsole {
public:
    HeldConsole() { active = this; }
    ~HeldConsole() {
        hold(false);
        active = nullptr;
    }

    void hold(bool held) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = held;
        changed_.notify_all();
    }

    // Waits until a write waits on the held console.
    bool wait_for_blocked_write() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 5s, [this] { return waiting_; });
    }

    // Waits until the console shows `text` at its end.
    bool wait_for_screen_end(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] {
            return screen_.size() >= text.size() &&
                   screen_.compare(screen_.size() - text.size(), text.size(), text) == 0;
        });
    }

    std::string screen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return screen_;
    }

    ConsoleSink sink() {
        return {[this](const std::string& text) { show(text); },
                [this](const std::string& text) { show("[" + text + "]"); },
                [](int c) {
                    active->show(c == ' ' ? "~" : std::string(1, static_cast<char>(c)));
                    return c;
                }};
    }

private:
    void show(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        waiting_ = held_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        waiting_ = false;
        screen_ += text;
        changed_.notify_all();
    }

    static HeldConsole* active;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool waiting_ = false;
    std::string screen_;
};

HeldConsole* HeldConsole::active = nullptr;

RecordText record(const std::string& text, int padding = 0) {
    RecordText record;
    record.append(text);
    record.pad(padding);
    return record;
}

TEST(ConsoleWriter, WritesTextNoticesAndPaddingInTheOrderGiven) {
    HeldConsole console;
    ConsoleWriter writer(console.sink());
    writer.message("header\n");
    RecordText padded;
    padded.print("%s:", "name");
    padded.pad(3);
    padded.print("%d\n", 42);
    writer.record(padded);
    writer.notice("a notice");
    writer.record(record("r2\n"));
    EXPECT_TRUE(writer.finish(5000ms));
    EXPECT_EQ(console.screen(), "header\nname:~~~42\n[a notice\n]r2\n");
}

TEST(ConsoleWriter, AHeldConsoleCostsTheRecordsPastItsQueueCountedAndToldWhenItGoesOn) {
    HeldConsole console;
    ConsoleWriter writer(console.sink(), 3);
    console.hold(true);
    writer.record(record("r1\n"));
    ASSERT_TRUE(console.wait_for_blocked_write()); // r1 is being written
    for (const char* text : {"r2\n", "r3\n", "r4\n", "r5\n", "r6\n"}) {
        writer.record(record(text)); // r2 to r4 wait, r5 and r6 are dropped
    }
    writer.notice("n1"); // dropped too
    writer.message("never dropped\n");
    console.hold(false);
    ASSERT_TRUE(console.wait_for_screen_end("never dropped\n"));
    writer.record(record("r7\n"));
    EXPECT_TRUE(writer.finish(5000ms));
    // What was missed is told where it was missed.
    EXPECT_EQ(console.screen(),
              "r1\nr2\nr3\nr4\n[" + ConsoleWriter::missed_notice(2, 1) + "\n]never dropped\nr7\n");
    EXPECT_EQ(ConsoleWriter::missed_notice(2, 1),
              "2 records and 1 notice were not shown on the console while it held its output");
}

TEST(ConsoleWriter, AnEndWhileTheConsoleHoldsItsOutputWaitsOnlyAsLongAsAllowed) {
    HeldConsole console;
    ConsoleWriter writer(console.sink(), 3);
    writer.record(record("r1\n"));
    ASSERT_TRUE(console.wait_for_screen_end("r1\n"));
    console.hold(true);
    for (const char* text : {"r2\n", "r3\n", "r4\n", "r5\n", "r6\n"}) {
        writer.record(record(text));
    }
    ASSERT_TRUE(console.wait_for_blocked_write());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(writer.finish(300ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 2000ms);
    // Let go, the console gets the write it held and nothing after it.
    console.hold(false);
    ASSERT_TRUE(console.wait_for_screen_end("r2\n"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(console.screen(), "r1\nr2\n");
    writer.record(record("after the end\n"));
    EXPECT_EQ(console.screen(), "r1\nr2\n");
}

} // namespace
