// Wildcard expansion of positional arguments against real files.
#include "h2mon/common/stdtpl.h"
#include "h2mon/win32/paths.h"
#include "tests/h2mon/common/capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kUsage = "Usage: tool <files>\n";

// Runs each test in a fresh directory holding a.txt, b.txt, c.txt, notes.md, a
// directory d.txt and a directory sub with x.txt.
class Wildcards : public testing::Test {
protected:
    void SetUp() override {
        previous = fs::current_path();
        dir = fs::temp_directory_path() /
              ("h2-wildcards-" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir / "d.txt");
        fs::create_directories(dir / "sub");
        for (const char* name : {"a.txt", "b.txt", "c.txt", "notes.md", "sub/x.txt"}) {
            std::ofstream(dir / name) << name;
        }
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
    }

    bool parse(std::vector<const char*> arguments, int maxpositional) {
        arguments.insert(arguments.begin(), "tool");
        printed = stdout_of([&] {
            accepted = store.parse(static_cast<int>(arguments.size()), arguments.data(), kUsage,
                                   maxpositional, 0, true);
        });
        return accepted;
    }
    // The values of the positional entries "1" .. "n".
    std::vector<std::string> positionals() {
        std::vector<std::string> values;
        for (int n = 1; const KVAL* e = store.find(std::to_string(n).c_str()); ++n) {
            values.push_back(e->value());
        }
        return values;
    }
    std::set<std::string> positional_set() {
        const std::vector<std::string> values = positionals();
        return {values.begin(), values.end()};
    }

    fs::path previous;
    fs::path dir;
    KVSTORE<KVAL> store;
    bool accepted = false;
    std::string printed;
};

TEST_F(Wildcards, EachMatchingFileBecomesAPositionalEntryDirectoriesSkipped) {
    EXPECT_TRUE(parse({"*.txt"}, 5));
    EXPECT_EQ(printed, "");
    EXPECT_EQ(positional_set(), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(store.size(), 3);
}

TEST_F(Wildcards, QuestionMarkAndDirectoryPartAndPlainArgumentsMix) {
    const std::string in_sub = std::string("sub") + kDirSeparator + "?.txt";
    EXPECT_TRUE(parse({"first", in_sub.c_str(), "*.md"}, 5));
    EXPECT_EQ(positionals(),
              (std::vector<std::string>{"first", std::string("sub") + kDirSeparator + "x.txt",
                                        "notes.md"}));
}

TEST_F(Wildcards, TooManyFilesKeepsThoseAddedBeforeTheLimit) {
    EXPECT_FALSE(parse({"*.txt"}, 2));
    EXPECT_EQ(printed, "\n" + std::string(kUsage) + "\nToo many files specified (max = 2)\n");
    EXPECT_EQ(positionals().size(), 2u);
    EXPECT_TRUE(std::set<std::string>({"a.txt", "b.txt", "c.txt"}).count(positionals()[1]));
}

TEST_F(Wildcards, NoMatchingFileIsReportedWithoutTheUsageText) {
    for (const char* pattern : {"d*", "none*", "missing_dir/*.txt"}) {
        SCOPED_TRACE(pattern);
        EXPECT_FALSE(parse({pattern}, 5));
        EXPECT_EQ(printed, std::string("\nNo matches for ") + pattern + "\n");
        EXPECT_EQ(store.size(), 0);
    }
}

#ifndef _WIN32
// A directory part and a file name that together pass the search path's size;
// Windows itself refuses such paths.
TEST_F(Wildcards, MatchPathLongerThanTheSearchPathIsKeptWhole) {
    const std::string deep(150, 'd');
    const std::string name(150, 'f');
    fs::create_directories(deep);
    std::ofstream(fs::path(deep) / name) << "x";
    const std::string pattern = deep + "/*";
    EXPECT_TRUE(parse({pattern.c_str()}, 5));
    EXPECT_EQ(positionals(), std::vector<std::string>{deep + "/" + name});
}
#endif

TEST(SplitWildcard, DirectoryPartKeepsItsSeparatorEvenAtTheRoot) {
    const std::string s(1, kDirSeparator);
    const struct {
        std::string argument;
        std::string dir;
    } cases[] = {
        {"*.txt", ""},
        {"sub" + s + "*.txt", "sub" + s},
        {"a" + s + "b" + s + "?", "a" + s + "b" + s},
        {s + "*.txt", s}, // rooted: the root, not the current directory
        {"a" + s + s + "*", "a" + s + s},
    };
    for (const auto& c : cases) {
        WildcardSearch search;
        split_wildcard(c.argument.c_str(), &search);
        EXPECT_EQ(search.szDir, c.dir) << c.argument;
        EXPECT_EQ(search.szSearch, c.argument);
    }
    WildcardSearch cut;
    split_wildcard(std::string(400, 'x').c_str(), &cut);
    EXPECT_EQ(std::string(cut.szSearch), std::string(259, 'x'));
    EXPECT_STREQ(cut.szDir, "");
}

TEST_F(Wildcards, WithoutExpansionAPatternIsAPlainArgument) {
    const char* arguments[] = {"tool", "*.txt"};
    EXPECT_TRUE(store.parse(2, arguments, kUsage, 1, 0, false));
    EXPECT_EQ(positionals(), std::vector<std::string>{"*.txt"});
}

} // namespace
