// The log follower in process: each branch of rotation, a missing log, a
// start at the tail and a line that is still being written, polled step by
// step with no waiting.
#include "h2export/log_follower.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/gzip.h"
#include "tests/support/process.h"
#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace h2export_test {
namespace {

class Lines : public LineSink {
public:
    std::optional<std::int64_t> line(std::string_view text) override {
        seen += text == LineAssembler::kHoleLine ? "hole|" : std::string(text) + "|";
        std::int64_t ns = 0;
        if (mjd_unix_ns(text.substr(0, text.find(',')), &ns)) {
            return ns;
        }
        return std::nullopt;
    }
    void overlong() override { seen += "overlong|"; }
    void consumed(const LogPosition& at) override { position = at; }

    std::string seen;
    LogPosition position;
};

// One step of a case: a change to the folder, or a poll and the lines it must pass on.
struct Step {
    enum Kind { kAppend, kRename, kCopy, kTruncate, kPoll } kind;
    std::string a; // kAppend: the file; kRename: from; kPoll: the lines, each ended by '|'
    std::string b; // kAppend: the text; kRename: to
};

Step append(std::string file, std::string text) {
    return {Step::kAppend, std::move(file), std::move(text)};
}
Step rename(std::string from, std::string to) {
    return {Step::kRename, std::move(from), std::move(to)};
}
Step copy(std::string from, std::string to) {
    return {Step::kCopy, std::move(from), std::move(to)};
}
Step truncate(std::string file) {
    return {Step::kTruncate, std::move(file), ""};
}
Step poll(std::string lines) {
    return {Step::kPoll, std::move(lines), ""};
}

// Rows stamped in the order of their letters: "ab"
// gives the log text "61001,a\n61002,b\n", what the follower passes on is
// "61001,a|61002,b|".
std::string rows(const std::string& letters) {
    std::string text;
    for (char letter : letters) {
        text += std::to_string(61000 + letter - 'a') + "," + letter + "\n";
    }
    return text;
}
std::int64_t time_of(char letter) {
    std::int64_t ns = 0;
    mjd_unix_ns(std::to_string(61000 + letter - 'a'), &ns);
    return ns;
}
std::string passed(const std::string& letters) {
    std::string text = rows(letters);
    std::replace(text.begin(), text.end(), '\n', '|');
    return text;
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
        {"copied and truncated, then the empty log replaced by another",
         {append("log", "a\n"), poll("a|"), copy("log", "log.1"), truncate("log"), poll(""),
          rename("log", "away"), append("log", "b\n"), poll("b|")}},
        {"renamed, and the next log renamed too before it was read: its rows come next",
         {append("log", rows("a")), poll(passed("a")), rename("log", "log.1"),
          append("log", rows("b")), rename("log.1", "log.2"), rename("log", "log.1"),
          append("log.1", rows("c")), poll(passed("bc"))}},
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
            case Step::kCopy:
                std::filesystem::copy_file(dir.file(step.a), dir.file(step.b));
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

// A sink that stops after its first block, as a stop request does while a
// long log is caught up.
class FirstBlockOnly : public Lines {
public:
    bool go_on() const override { return blocks_left_-- > 0; }
    mutable int blocks_left_ = 0;
};

// Rows numbered from `first`, a thousandth of a day apart, long enough that
// a file of them takes several blocks.
std::string long_rows(int first, int count) {
    std::string text;
    char mjd[32];
    for (int i = first; i < first + count; ++i) {
        std::snprintf(mjd, sizeof mjd, "%.6f", 60000 + i / 1000.0);
        text += std::string(mjd) + "," + std::string(200, 'x') + "\n";
    }
    return text;
}

// The lines of `rows` (a log's text) were passed on, each once, in order.
void expect_passed(const std::string& seen, std::string rows) {
    std::replace(rows.begin(), rows.end(), '\n', '|');
    if (seen == rows) {
        return;
    }
    std::size_t same = 0;
    while (same < seen.size() && same < rows.size() && seen[same] == rows[same]) {
        ++same;
    }
    const auto lines_before = [&](const std::string& text) {
        return std::count(text.begin(), text.begin() + static_cast<long>(same), '|');
    };
    ADD_FAILURE() << "passed on " << std::count(seen.begin(), seen.end(), '|') << " lines of "
                  << std::count(rows.begin(), rows.end(), '|') << "; the first "
                  << lines_before(rows) << " alike, then " << seen.substr(same, 60) << " for "
                  << rows.substr(same, 60);
}

// The log cut by copytruncate while rows of it were still unread: the rest
// of them is read from the copy, then the log from its start.
TEST(LogFollower, ACopyTruncateWhileBehindReadsTheRestFromTheCopy) {
    namespace fs = std::filesystem;
    for (const bool grown_past : {false, true}) {
        SCOPED_TRACE(grown_past ? "the log grown past the old position" : "the log short");
        h2test::TempDir dir;
        const std::string log = dir.file("log");
        append_file(log, rows("ab"));
        LogFollower follower("m", log, StartAt::kBeginning);
        Lines lines;
        follower.poll(lines);
        ASSERT_EQ(lines.seen, passed("ab"));
        append_file(log, rows("cde"));
        fs::copy_file(log, log + ".1");
        fs::resize_file(log, 0);
        append_file(log, rows(grown_past ? "fghijklm" : "f"));
        lines.seen.clear();
        follower.poll(lines);
        EXPECT_EQ(lines.seen, passed(grown_past ? "cdefghijklm" : "cdef"));
    }
}

TEST(LogFollower, ACopyTruncateWhileALongLogIsCaughtUpLosesNothing) {
    namespace fs = std::filesystem;
    h2test::TempDir dir;
    const std::string log = dir.file("log");
    const std::string before = long_rows(0, 2000);
    append_file(log, before);
    LogFollower follower("m", log, StartAt::kBeginning);
    FirstBlockOnly lines;
    follower.poll(lines);
    ASSERT_LT(lines.seen.size(), before.size()) << "read whole in one block";
    fs::copy_file(log, log + ".1");
    fs::resize_file(log, 0);
    const std::string after = long_rows(2000, 3);
    append_file(log, after);
    lines.blocks_left_ = 1000;
    follower.poll(lines);
    expect_passed(lines.seen, before + after);
}

// Rotations while h2export is stopped, and one more while the restarted
// follower is catching up through the files they left: every row after the
// saved position once, in order, plain and compressed alike.
TEST(LogFollower, ARotationDuringTheCatchUpAfterARestartLosesAndRepeatsNothing) {
    for (const Rotation how : {Rotation::kRename, Rotation::kCopyTruncate}) {
        SCOPED_TRACE(how == Rotation::kRename ? "rename" : "copytruncate");
        h2test::TempDir dir;
        const std::string log = dir.file("log");
        int next = 0;
        const auto grow = [&](int count) {
            append_file(log, long_rows(next, count));
            next += count;
        };
        grow(10);
        LogPosition stopped_at;
        {
            LogFollower first("m", log, StartAt::kBeginning);
            Lines lines;
            first.poll(lines);
            stopped_at = lines.position;
        }
        const int read_before = next;
        for (int rotation = 0; rotation < 4; ++rotation) {
            grow(700);
            rotate_log(log, how, true);
        }
        grow(700);
        LogFollower again("m", log, StartAt::kBeginning, stopped_at);
        FirstBlockOnly lines;
        testing::internal::CaptureStderr();
        again.poll(lines);
        ASSERT_FALSE(lines.seen.empty());
        rotate_log(log, how, true);
        grow(5);
        lines.blocks_left_ = 1 << 20;
        again.poll(lines);
        again.poll(lines);
        testing::internal::GetCapturedStderr();
        expect_passed(lines.seen, long_rows(read_before, next - read_before));
    }
}

// A position at the start of an empty log (new, or just cut) still knows that
// rows written after it and rotated away while h2export was stopped are unread.
TEST(LogFollower, APositionAtTheStartOfAnEmptyLogFindsRowsRotatedAwayMeanwhile) {
    for (const Rotation how : {Rotation::kRename, Rotation::kCopyTruncate}) {
        SCOPED_TRACE(how == Rotation::kRename ? "rename" : "copytruncate");
        h2test::TempDir dir;
        const std::string log = dir.file("log");
        // Rotated before the follower started: not read.
        append_file(log + ".1", rows("ab"));
        append_file(log, "");
        LogPosition stopped_at;
        {
            LogFollower first("m", log, StartAt::kBeginning, std::nullopt, time_of('b'));
            Lines lines;
            first.poll(lines);
            EXPECT_EQ(lines.seen, "");
            stopped_at = lines.position;
        }
        append_file(log, rows("cd"));
        rotate_log(log, how, false);
        append_file(log, rows("e"));
        LogFollower again("m", log, StartAt::kBeginning, stopped_at);
        Lines lines;
        testing::internal::CaptureStderr();
        again.poll(lines);
        again.poll(lines);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(lines.seen, passed("cde"));
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
