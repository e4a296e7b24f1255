// The one reader of whole logs: plain or gzip by content, whole lines, the
// last line without its line end, damage with its reason, pauses.
#include "telemetry/log_reader.h"
#include "tests/support/gzip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using h2test::gzip;

class LogReaderTest : public ::testing::Test {
protected:
    LogReaderTest()
        : dir_(std::filesystem::temp_directory_path() /
               ("h2_log_reader_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::create_directories(dir_);
    }
    ~LogReaderTest() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& bytes) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    struct Read {
        std::vector<std::string> lines;
        int overlong = 0;
        ReadEnd end = ReadEnd::kPaused;
        std::string damage;
    };

    static Read read_all(const std::string& path, std::size_t max_line = 4096) {
        LogReader reader(max_line);
        std::string error;
        Read read;
        EXPECT_TRUE(reader.open(path, error)) << error;
        read.end = reader.read(
            [&](std::string_view line) {
                read.lines.emplace_back(line);
                return true;
            },
            [&] { ++read.overlong; });
        if (read.end == ReadEnd::kDamaged) {
            read.damage = reader.damage(read.lines.size());
        }
        return read;
    }

    std::filesystem::path dir_;
};

using Lines = std::vector<std::string>;

TEST_F(LogReaderTest, PlainOrGzipByContentEveryLineTheLastWithoutItsEnd) {
    const struct {
        const char* name;
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"ends.csv", "a\nb\n", {"a", "b"}},
        {"unended.csv", "a\nb", {"a", "b"}},
        {"crlf.csv", "a\r\nb\r\n", {"a\r", "b\r"}},
        {"empty.csv", "", {}},
        {"blank.csv", "\n", {""}},
        {"gzip-named-csv.csv", gzip("a\nb"), {"a", "b"}},
        {"plain-named-gz.gz", "a\nb\n", {"a", "b"}},
        {"members.csv.gz", gzip("a\nb") + gzip("c\n"), {"a", "bc"}},
    };
    for (const auto& c : cases) {
        const Read read = read_all(file(c.name, c.bytes));
        EXPECT_EQ(read.end, ReadEnd::kEnd) << c.name;
        EXPECT_EQ(read.lines, c.lines) << c.name;
    }
}

TEST_F(LogReaderTest, OverlongLinesAreSkippedAndCounted) {
    const Read read = read_all(file("long.csv", "short\n0123456789abc\nend"), 8);
    EXPECT_EQ(read.lines, (Lines{"short", "end"}));
    EXPECT_EQ(read.overlong, 1);
}

TEST_F(LogReaderTest, DamagedGzipKeepsTheLinesBeforeAndSaysWhy) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    const std::string packed = gzip(text);
    std::string bad_check = packed;
    bad_check[bad_check.size() - 8] ^= 0x01; // the trailer's CRC
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"cut.csv.gz", packed.substr(0, packed.size() / 2), "unexpected end of file"},
        {"check.csv.gz", bad_check, "incorrect data check"},
    };
    for (const auto& c : cases) {
        const std::string path = file(c.name, c.bytes);
        const Read read = read_all(path);
        ASSERT_EQ(read.end, ReadEnd::kDamaged) << c.name;
        EXPECT_EQ(read.damage, path + ": damaged after " + std::to_string(read.lines.size()) +
                                   " rows: " + c.reason);
        // Whole lines only, in order: the cut one is not among them.
        for (std::size_t i = 0; i < read.lines.size(); ++i) {
            ASSERT_EQ(read.lines[i], "line " + std::to_string(i)) << c.name;
        }
    }
}

// Rows of a usual length, several blocks of them, with a hole left by a
// power loss far into the file: the lines and the hole come out in order
// wherever the blocks read ahead begin and end.
TEST_F(LogReaderTest, RowsAndAHoleFarIntoAFileReadAhead) {
    const auto row = [](int i) { return "row " + std::to_string(i) + "," + std::string(90, 'v'); };
    std::string text;
    Lines expected;
    for (int i = 0; i < 30000; ++i) {
        if (i == 20000) {
            // The hole cuts row 20000; what follows it starts a line of its own.
            text += row(i).substr(0, 40) + std::string(3000, '\0') + row(i).substr(40) + "\n";
            expected.insert(expected.end(), {std::string(1, '\0'), row(i).substr(40)});
            continue;
        }
        text += row(i) + "\n";
        expected.push_back(row(i));
    }
    for (const std::string& bytes : {text, gzip(text)}) {
        const Read read = read_all(file("hole.csv", bytes));
        EXPECT_EQ(read.end, ReadEnd::kEnd);
        ASSERT_EQ(read.lines.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(read.lines[i], expected[i]) << "line " << i;
        }
    }
}

TEST_F(LogReaderTest, APausedReadingGoesOnWithTheNextLine) {
    std::string text;
    // Several times the blocks read ahead, so the blocks are used in turn.
    for (int i = 0; i < 400000; ++i) {
        text += std::to_string(i) + "\n";
    }
    for (const std::string& bytes : {text, gzip(text)}) {
        LogReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(file("paused.csv", bytes), error)) << error;
        int next = 0;
        ReadEnd end;
        // Pauses after the first line and at every 30000th, across blocks.
        while ((end = reader.read(
                    [&](std::string_view line) {
                        EXPECT_EQ(line, std::to_string(next));
                        ++next;
                        return next != 1 && next % 30000 != 0;
                    },
                    [] { ADD_FAILURE(); })) == ReadEnd::kPaused) {
        }
        EXPECT_EQ(end, ReadEnd::kEnd);
        EXPECT_EQ(next, 400000);
    }
}

TEST_F(LogReaderTest, AnInputThatCannotBeOpenedIsNamed) {
    LogReader reader;
    std::string error;
    EXPECT_FALSE(reader.open((dir_ / "missing.csv").string(), error));
    EXPECT_NE(error.find("cannot open "), std::string::npos) << error;
    EXPECT_NE(error.find("missing.csv: "), std::string::npos) << error;
}

} // namespace
