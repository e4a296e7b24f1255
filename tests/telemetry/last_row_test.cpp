// The last row of a log without its line end, and logs that come through a
// pipe: h2plot and h2export --backfill read the same inputs to the same
// records, because both read them through the one log reader.
#include "tests/support/log_rows.h"
#include "tests/support/gzip.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

namespace {

constexpr int kRows = 5;

// How many records each program took from `input`, given as `path`.
struct Taken {
    int plotted = -1;
    int backfilled = -1;
};

int count_of(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

Taken taken(const std::string& path, const std::string& input) {
    Taken taken;
    const h2test::ProgramRun plot =
        h2test::run_program({H2PLOT_PATH, "--channels", "Ion_uA", "-o", "-", path}, input);
    EXPECT_EQ(plot.exit_code, 0) << plot.err;
    for (int n = 0; n <= kRows + 1; ++n) {
        if (plot.out.find(", " + std::to_string(n) + " records") != std::string::npos) {
            taken.plotted = n;
        }
    }
    const h2test::ProgramRun backfill =
        h2test::run_program({H2EXPORT_PATH, "--follow", "m=" + path, "--backfill"}, input);
    EXPECT_EQ(backfill.exit_code, 0) << backfill.err;
    taken.backfilled = count_of(backfill.out, "\nmaser_ion_pump_current_amperes{");
    return taken;
}

TEST(LastRow, BothProgramsTakeEveryRecordFromFilesAndPipesWithOrWithoutTheLastLineEnd) {
    h2test::TempDir dir;
    std::string log = "MJD,Batt_V,...\n";
    for (int i = 0; i < kRows; ++i) {
        log +=
            h2test::log_row(61384000000 + 100 * i, {{"Ion_uA", std::to_string(i) + ".000"}}) + "\n";
    }
    for (const std::string& text : {log, log.substr(0, log.size() - 1)}) {
        const bool ended = text.back() == '\n';
        ASSERT_TRUE(h2test::write_text_file(dir.file("plain.csv"), text));
        ASSERT_TRUE(h2test::write_text_file(dir.file("packed.csv"), h2test::gzip(text)));
        const struct {
            std::string path;
            std::string input;
        } cases[] = {
            {dir.file("plain.csv"), ""},
            {dir.file("packed.csv"), ""},
            {"-", text},
            {"/dev/stdin", text},
        };
        for (const auto& c : cases) {
            const Taken got = taken(c.path, c.input);
            EXPECT_EQ(got.plotted, kRows) << c.path << (ended ? "" : ", no last line end");
            EXPECT_EQ(got.backfilled, kRows) << c.path << (ended ? "" : ", no last line end");
        }
    }
}

} // namespace
