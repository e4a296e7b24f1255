// The log file on Linux: each row lands whole in the file that has the path
// when it is written (rotation by rename, a deleted log, a folder that goes
// away for a while), and a row a full disk cuts short is taken off again.
#include "h2mon/io/log_file.h"
#include "tests/support/process.h"
#include "tests/support/tmpfs_mount.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

std::string row(int number) {
    return "61384." + std::to_string(100000 + number) + ",27.069,B0926C51\n";
}

std::string rows(int first, int last) {
    std::string text;
    for (int number = first; number <= last; ++number) {
        text += row(number);
    }
    return text;
}

TEST(LogFile, EachRowLandsInTheFileThatHasThePathWhenItIsWritten) {
    struct Case {
        const char* what;
        std::function<void(const std::string& log)> change; // between rows 2 and 3
        std::string rotated;                                // what log.1 then holds
        std::string log;                                    // what the path then holds
    };
    const Case cases[] = {
        {"nothing happens", [](const std::string&) {}, "", rows(1, 4)},
        {"renamed away",
         [](const std::string& log) { std::rename(log.c_str(), (log + ".1").c_str()); }, rows(1, 2),
         rows(3, 4)},
        {"deleted", [](const std::string& log) { std::remove(log.c_str()); }, "", rows(3, 4)},
        {"renamed away and replaced by an empty file",
         [](const std::string& log) {
             std::rename(log.c_str(), (log + ".1").c_str());
             h2test::write_text_file(log, "");
         },
         rows(1, 2), rows(3, 4)},
        {"cut to nothing in place (copytruncate)",
         [](const std::string& log) { ASSERT_EQ(::truncate(log.c_str(), 0), 0); }, "", rows(3, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        h2test::TempDir dir;
        const std::string path = dir.file("maser.csv");
        LogFile log(path);
        ASSERT_EQ(log.open(), 0);
        for (int number = 1; number <= 4; ++number) {
            if (number == 3) {
                c.change(path);
            }
            ASSERT_EQ(log.append(row(number)), 0) << number;
        }
        EXPECT_EQ(h2test::read_text_file(path), c.log);
        EXPECT_EQ(std::filesystem::exists(path + ".1") ? h2test::read_text_file(path + ".1") : "",
                  c.rotated);
    }
}

TEST(LogFile, APathThatCannotBeOpenedAgainMissesTheRowAndIsTriedAgainAtTheNext) {
    h2test::TempDir dir;
    const std::string folder = dir.file("logs");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/maser.csv";
    LogFile log(path);
    ASSERT_EQ(log.open(), 0);
    ASSERT_EQ(log.append(row(1)), 0);

    // The folder is moved away: the path names nothing, and nothing can be made there.
    std::filesystem::rename(folder, dir.file("old"));
    EXPECT_EQ(log.append(row(2)), ENOENT);
    EXPECT_EQ(log.append(row(3)), ENOENT);
    std::filesystem::create_directory(folder);
    EXPECT_EQ(log.append(row(4)), 0);

    EXPECT_EQ(h2test::read_text_file(dir.file("old/maser.csv")), row(1));
    EXPECT_EQ(h2test::read_text_file(path), row(4));
}

// A small tmpfs fills up: a row that needs a page when none is left is written
// only into what is left of the file's last page, then fails.
TEST(LogFile, ARowAFullDiskCutsShortIsTakenOffAndTheNextRowStartsItsOwnLine) {
    if (!h2test::TmpfsMount::allowed()) {
        GTEST_SKIP() << "mounting a small tmpfs (a disk that fills up) needs root";
    }
    constexpr std::size_t kPage = 4096;
    h2test::TempDir dir;
    h2test::TmpfsMount disk;
    std::string error;
    ASSERT_TRUE(disk.mount(dir.path(), 8 * kPage, error)) << error;
    // Half the disk taken by something else, which can be removed to make room.
    const std::string filler = dir.file("filler");
    ASSERT_TRUE(h2test::write_text_file(filler, std::string(4 * kPage, 'x')));

    const std::string path = dir.file("maser.csv");
    LogFile log(path);
    ASSERT_EQ(log.open(), 0);
    int written = 0;
    int failed_error = 0;
    std::uintmax_t size_before_failure = 0;
    while (failed_error == 0 && written < 1000) {
        size_before_failure = std::filesystem::file_size(path);
        failed_error = log.append(row(written + 1));
        written += failed_error == 0 ? 1 : 0;
    }
    ASSERT_EQ(failed_error, ENOSPC);
    // The failing row began inside a page, so part of it did fit.
    ASSERT_NE(size_before_failure % kPage, 0u);
    EXPECT_EQ(h2test::read_text_file(path), rows(1, written));
    EXPECT_EQ(log.append(row(written + 2)), ENOSPC);
    EXPECT_EQ(h2test::read_text_file(path), rows(1, written));

    ASSERT_TRUE(std::filesystem::remove(filler));
    EXPECT_EQ(log.append(row(written + 3)), 0);
    EXPECT_EQ(h2test::read_text_file(path), rows(1, written) + row(written + 3));
}

} // namespace
