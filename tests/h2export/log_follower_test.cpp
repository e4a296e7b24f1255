// The log follower in process: each branch of rotation, a missing log, a
// start at the tail and a line that is still being written, polled step by
// step with no waiting.
#include "h2export/log_follower.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/gzip.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace h2export_test {
namespace {

class Lines : public LineSink {
public:
    void line(std::string_view text) override {
        seen += text == LineAssembler::kHoleLine ? "hole|" : std::string(text) + "|";
    }
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
        {"a hole a power loss left cuts the line it fell in, not the row after it",
         {append("log", "a\nb-cut"), poll("a|"), append("log", std::string(5000, '\0')),
          poll("hole|"), append("log", std::string(3, '\0') + "c\n"), poll("c|")}},
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

// Rows for the restart cases, stamped in the order of their letters: "ab"
// gives the log text "61001,a\n61002,b\n", what the follower passes on is
// "61001,a|61002,b|".
std::string rows(const std::string& letters) {
    std::string text;
    for (char letter : letters) {
        text += std::to_string(61000 + letter - 'a') + "," + letter + "\n";
    }
    return text;
}
std::string passed(const std::string& letters) {
    std::string text = rows(letters);
    std::replace(text.begin(), text.end(), '\n', '|');
    return text;
}

// What happened to the log while h2export was stopped, and what the restarted
// follower must pass on: nothing read twice, nothing that can still be found lost.
TEST(LogFollower, ARestartFindsWhereItWasOrReadsTheNewLogWhole) {
    namespace fs = std::filesystem;
    using Dir = h2test::TempDir;
    const auto write = [](Dir& dir, const char* file, const std::string& text) {
        h2test::write_text_file(dir.file(file), text);
    };
    const struct {
        const char* name;
        std::function<void(Dir&)> stopped;
        const char* seen;
        bool reported; // that the old log could not be found
    } cases[] = {
        {"renamed, written on, a new log",
         [](Dir& dir) {
             append_file(dir.file("log"), rows("c"));
             fs::rename(dir.file("log"), dir.file("log.1"));
             append_file(dir.file("log"), rows("d"));
         },
         "cd", false},
        {"copied and truncated, then grown past the old position",
         [](Dir& dir) {
             append_file(dir.file("log"), rows("c"));
             fs::copy_file(dir.file("log"), dir.file("log.1"));
             fs::resize_file(dir.file("log"), 0);
             append_file(dir.file("log"), rows("defg"));
         },
         "cdefg", false},
        {"renamed and compressed",
         [&](Dir& dir) {
             write(dir, "log.1.gz", h2test::gzip(rows("abc")));
             write(dir, "log", rows("d"));
         },
         "cd", false},
        {"rotated twice, the older one compressed",
         [&](Dir& dir) {
             write(dir, "log.2.gz", h2test::gzip(rows("abc")));
             write(dir, "log.1", rows("de"));
             write(dir, "log", rows("f"));
         },
         "cdef", false},
        {"rotated twice, neither compressed, a dated name among them",
         [&](Dir& dir) {
             write(dir, "log.2", rows("abc"));
             write(dir, "log-20261210", rows("d"));
             write(dir, "log.1", rows("e"));
             write(dir, "log", rows("f"));
             write(dir, "other.1", rows("x"));
         },
         "cdef", false},
        {"deleted and made again",
         [](Dir& dir) {
             fs::remove(dir.file("log"));
             append_file(dir.file("log"), rows("xyz"));
         },
         "xyz", true},
        {"rotated into another folder",
         [&](Dir& dir) {
             fs::create_directory(dir.file("old"));
             write(dir, "old/log.1", rows("abc"));
             write(dir, "log", rows("d"));
         },
         "d", true},
    };
    for (const auto& c : cases) {
        h2test::TempDir dir;
        append_file(dir.file("log"), rows("ab"));
        LogPosition stopped_at;
        {
            LogFollower first("m", dir.file("log"), StartAt::kBeginning);
            Lines lines;
            first.poll(lines);
            ASSERT_EQ(lines.seen, passed("ab")) << c.name;
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
        EXPECT_EQ(lines.seen, passed(c.seen)) << c.name;
        EXPECT_EQ(said.find("is neither") != std::string::npos, c.reported) << c.name << said;
    }
}

// A stop inside an overlong line or a hole, which were reported already: the
// restart goes on after them without reporting them again.
TEST(LogFollower, ARestartInsideABadLineDoesNotReportItAgain) {
    const struct {
        const char* name;
        std::string begun, ended;
        const char* first_seen;
    } cases[] = {
        {"overlong", std::string(LineAssembler::kDefaultMaxLine + 10, 'x'), "xx\n", "overlong|"},
        {"hole", std::string(100, '\0'), std::string(100, '\0'), "hole|"},
    };
    for (const auto& c : cases) {
        h2test::TempDir dir;
        append_file(dir.file("log"), rows("a") + c.begun);
        LogPosition stopped_at;
        {
            LogFollower first("m", dir.file("log"), StartAt::kBeginning);
            Lines lines;
            first.poll(lines);
            EXPECT_EQ(lines.seen, passed("a") + c.first_seen) << c.name;
            stopped_at = lines.position;
        }
        append_file(dir.file("log"), c.ended + rows("b"));
        LogFollower again("m", dir.file("log"), StartAt::kBeginning, stopped_at);
        Lines lines;
        again.poll(lines);
        EXPECT_EQ(lines.seen, passed("b")) << c.name;
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
