// The log follower in process: each branch of rotation, a missing log, a
// start at the tail and a line that is still being written, polled step by
// step with no waiting.
#include "h2export/log_follower.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace h2export_test {
namespace {

class Lines : public LineSink {
public:
    void line(std::string_view text) override { seen += std::string(text) + "|"; }
    void overlong() override { seen += "overlong|"; }
    void consumed(const LogPosition& at) override { position = at; }

    std::string seen;
    LogPosition position;
};

// One step of a case: a change to the folder, or a poll and the lines it must pass on.
struct Step {
    enum Kind { kAppend, kRename, kTruncate, kPoll } kind;
    std::string a; // kAppend: the file; kRename: from; kPoll: the lines, each ended by '|'
    std::string b; // kAppend: the text; kRename: to
};

Step append(std::string file, std::string text) {
    return {Step::kAppend, std::move(file), std::move(text)};
}
Step rename(std::string from, std::string to) {
    return {Step::kRename, std::move(from), std::move(to)};
}
Step truncate(std::string file) {
    return {Step::kTruncate, std::move(file), ""};
}
Step poll(std::string lines) {
    return {Step::kPoll, std::move(lines), ""};
}

TEST(LogFollower, EveryLineOnceThroughBothRotationsAndAMissingLog) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"missing, then made", {poll(""), append("log", "a\n"), poll("a|")}},
        {"a line is passed once its end has come",
         {append("log", "a\nb"), poll("a|"), append("log", "c\n"), poll("bc|")}},
        {"copy and truncate",
         {append("log", "a\nb\n"), poll("a|b|"), truncate("log"), append("log", "c\n"),
          poll("c|")}},
        {"renamed, the old file read to its end before the new one",
         {append("log", "a\n"), poll("a|"), rename("log", "log.1"), append("log.1", "b\n"),
          append("log", "c\n"), poll("b|c|")}},
        {"renamed, the new file empty: the old one is followed on",
         {append("log", "a\n"), poll("a|"), rename("log", "log.1"), append("log", ""),
          append("log.1", "b\n"), poll("b|"), append("log", "c\n"), poll("c|")}},
        {"renamed away and none made: the old file is followed on",
         {append("log", "a\n"), poll("a|"), rename("log", "log.1"), append("log.1", "b\n"),
          poll("b|")}},
    };
    for (const auto& c : cases) {
        h2test::TempDir dir;
        LogFollower follower("m", dir.file("log"), StartAt::kBeginning);
        Lines lines;
        for (const Step& step : c.steps) {
            switch (step.kind) {
            case Step::kAppend:
                append_file(dir.file(step.a), step.b);
                break;
            case Step::kRename:
                std::filesystem::rename(dir.file(step.a), dir.file(step.b));
                break;
            case Step::kTruncate:
                std::filesystem::resize_file(dir.file(step.a), 0);
                break;
            case Step::kPoll:
                lines.seen.clear();
                follower.poll(lines);
                EXPECT_EQ(lines.seen, step.a) << c.name;
                break;
            }
        }
    }
}

// What happened to the log while h2export was stopped, and what the restarted
// follower must pass on: nothing read twice, nothing that can still be found lost.
TEST(LogFollower, ARestartFindsWhereItWasOrReadsTheNewLogWhole) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        std::function<void(h2test::TempDir&)> stopped;
        const char* seen;
        bool reported; // that the old log could not be found
    } cases[] = {
        {"renamed, written on, a new log",
         [](h2test::TempDir& dir) {
             append_file(dir.file("log"), "c\n");
             fs::rename(dir.file("log"), dir.file("log.1"));
             append_file(dir.file("log"), "d\n");
         },
         "c|d|", false},
        {"copied and truncated, then grown past the old position",
         [](h2test::TempDir& dir) {
             append_file(dir.file("log"), "c\n");
             fs::copy_file(dir.file("log"), dir.file("log.1"));
             fs::resize_file(dir.file("log"), 0);
             append_file(dir.file("log"), "dd\neee\nf\n");
         },
         "c|dd|eee|f|", false},
        {"deleted and made again",
         [](h2test::TempDir& dir) {
             fs::remove(dir.file("log"));
             append_file(dir.file("log"), "x\nyy\nz\n");
         },
         "x|yy|z|", true},
        {"rotated and compressed",
         [](h2test::TempDir& dir) {
             append_file(dir.file("log.1.gz"), "\x1f\x8b (a\nb\nc\n compressed)");
             fs::remove(dir.file("log"));
             append_file(dir.file("log"), "d\n");
         },
         "d|", true},
    };
    for (const auto& c : cases) {
        h2test::TempDir dir;
        append_file(dir.file("log"), "a\nb\n");
        LogPosition stopped_at;
        {
            LogFollower first("m", dir.file("log"), StartAt::kBeginning);
            Lines lines;
            first.poll(lines);
            ASSERT_EQ(lines.seen, "a|b|") << c.name;
            stopped_at = lines.position;
        }
        c.stopped(dir);
        // A file number can come back for another file once one is deleted.
        FileId now;
        std::int64_t size;
        std::string error;
        if (look_at(dir.file("log"), now, size, error) == PathState::kFile && c.reported) {
            stopped_at.id = now;
        }
        LogFollower again("m", dir.file("log"), StartAt::kBeginning, stopped_at);
        Lines lines;
        testing::internal::CaptureStderr();
        again.poll(lines);
        again.poll(lines);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(lines.seen, c.seen) << c.name;
        EXPECT_EQ(said.find("is neither") != std::string::npos, c.reported) << c.name << said;
    }
}

TEST(LogFollower, StartsAtTheTailOnAWholeLine) {
    h2test::TempDir dir;
    std::string log;
    for (int i = 0; log.size() < 2 * LogFollower::kTailBytes; ++i) {
        log += "line " + std::to_string(i) + "\n";
    }
    append_file(dir.file("log"), log);
    LogFollower follower("m", dir.file("log"), StartAt::kTail);
    Lines lines;
    follower.poll(lines);
    ASSERT_FALSE(lines.seen.empty());
    const std::string first = lines.seen.substr(0, lines.seen.find('|'));
    EXPECT_EQ(first.rfind("line ", 0), 0u) << first;
    EXPECT_NE(log.find("\n" + first + "\n"), std::string::npos) << first;
    // From there to the end, and no more than the tail holds.
    std::string seen = lines.seen;
    std::replace(seen.begin(), seen.end(), '|', '\n');
    EXPECT_EQ(log.substr(log.size() - seen.size()), seen);
    EXPECT_LE(seen.size(), static_cast<std::size_t>(LogFollower::kTailBytes));
}

} // namespace
} // namespace h2export_test
