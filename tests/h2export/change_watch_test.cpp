// The change watch (inotify) says what changed, so that a row of one maser
// costs the exporter nothing for the others.
#include "h2export/change_watch.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

namespace h2export_test {
namespace {

// What a wait reports is what changed, so that a row of one maser is no work
// for the others: a watched file written to, by its key (also once renamed
// out of its folder), and names that came to or left a watched folder.
TEST(ChangeWatch, SaysWhichFilesChanged) {
    namespace fs = std::filesystem;
    h2test::TempDir dir;
    const std::string logs = dir.file("logs");
    fs::create_directory(logs);
    for (const char* name : {"a.csv", "b.csv", "c.csv"}) {
        h2test::write_text_file(logs + "/" + name, "");
    }
    const StopSignals stops;
    ChangeWatch watch(stops);
    ASSERT_TRUE(watch.watch_folder(logs));
    watch.watch_path(logs + "/a.csv", 1);
    watch.watch_path(logs + "/b.csv", 2);
    LogFile c;
    std::string error;
    ASSERT_EQ(c.open(logs + "/c.csv", error), PathState::kFile) << error;
    watch.watch_file(c, 3);
    ChangeWatch::Changes changes;
    const auto wait_for = [&](const std::function<bool()>& seen) {
        for (int wake = 0; wake < 10 && !seen(); ++wake) {
            ChangeWatch::Changes more;
            watch.wait(std::chrono::milliseconds(5000), more);
            changes.files.insert(more.files.begin(), more.files.end());
            changes.names.insert(more.names.begin(), more.names.end());
            changes.arrived.insert(more.arrived.begin(), more.arrived.end());
        }
        return seen();
    };

    append_file(logs + "/b.csv", "row\n");
    EXPECT_TRUE(wait_for([&] { return changes.files.count(2) != 0; }));
    EXPECT_EQ(changes.files, std::set<int>{2});
    EXPECT_TRUE(changes.names.empty());

    changes = {};
    fs::rename(logs + "/c.csv", dir.file("c.csv"));
    append_file(dir.file("c.csv"), "row\n");
    EXPECT_TRUE(wait_for([&] { return changes.files.count(3) != 0; }));
    EXPECT_EQ(changes.files, std::set<int>{3});
    EXPECT_EQ(changes.names, (std::set<std::pair<std::string, std::string>>{{logs, "c.csv"}}));
    EXPECT_TRUE(changes.arrived.empty());

    changes = {};
    append_file(logs + "/d.csv", "row\n");
    EXPECT_TRUE(wait_for([&] { return changes.arrived.count({logs, "d.csv"}) != 0; }));
    EXPECT_TRUE(changes.files.empty());
}

} // namespace
} // namespace h2export_test
