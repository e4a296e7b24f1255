// h2plot's pictures and pages as a reader sees them: drawn by a real browser
// (Debian's chromium, headless, with no network), then checked pixel by pixel.
#include "tests/support/golden.h"
#include "tests/support/log_rows.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <filesystem>
#include <regex>

namespace {

using h2test::ProgramRun;

// A screenshot, as 8-bit RGB.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* at(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
    // The plot's band and mean line are blue; white, grey grid lines and the
    // orange of a gap are not.
    bool ink(int x, int y) const {
        const unsigned char* p = at(x, y);
        return p[2] > p[0] + 40;
    }
    bool gap_colour(int x, int y) const {
        const unsigned char* p = at(x, y);
        return p[0] > 240 && p[1] > 190 && p[1] < 225 && p[2] > 145 && p[2] < 180;
    }
};

bool read_png(const std::string& path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

// Chromium without a network, a profile of its own, on a local file.
ProgramRun chromium(const h2test::TempDir& dir, const std::string& file,
                    const std::vector<std::string>& action) {
    std::vector<std::string> argv = {"/usr/bin/chromium",
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--hide-scrollbars",
                                     "--force-device-scale-factor=1",
                                     "--user-data-dir=" + dir.file("profile")};
    argv.insert(argv.end(), action.begin(), action.end());
    argv.push_back("file://" + file);
    return h2test::run_program(argv, "", std::chrono::seconds(120));
}

Picture screenshot(const h2test::TempDir& dir, const std::string& file, int width, int height) {
    const std::string png = dir.file("shot.png");
    const ProgramRun run =
        chromium(dir, file,
                 {"--screenshot=" + png,
                  "--window-size=" + std::to_string(width) + "," + std::to_string(height)});
    Picture picture;
    EXPECT_TRUE(read_png(png, picture)) << "no screenshot: " << run.err;
    return picture;
}

// Where a panel draws its data, from the frame drawn just outside it.
struct PanelBox {
    int left;
    int top;
    int width; // one pixel per column
    int height;
};

std::vector<PanelBox> frames(const std::string& svg) {
    static const std::regex kFrame(
        "<rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9]+)\" height=\"([0-9]+)\" "
        "fill=\"none\"");
    std::vector<PanelBox> boxes;
    for (std::sregex_iterator at(svg.begin(), svg.end(), kFrame), end; at != end; ++at) {
        const std::smatch& m = *at;
        boxes.push_back({static_cast<int>(std::stod(m[1]) + 0.5),
                         static_cast<int>(std::stod(m[2]) + 0.5), std::stoi(m[3]) - 1,
                         std::stoi(m[4]) - 1});
    }
    return boxes;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(Browser, HtmlPageShowsOnePanelPerChannel) {
    h2test::TempDir dir;
    const std::string page = dir.file("plot.html");
    const ProgramRun plot = h2test::run_program({H2PLOT_PATH, "--channels", "Ion_uA,H2_atm,CCoarse",
                                                 "--width", "600", "-o", page, H2PLOT_FIXTURE});
    ASSERT_EQ(plot.exit_code, 0) << plot.err;

    const ProgramRun dom = chromium(dir, page, {"--dump-dom"});
    ASSERT_EQ(dom.exit_code, 0) << dom.err;
    EXPECT_EQ(count(dom.out, "class=\"panel\""), 3u) << dom.out;
    for (const char* id : {"panel-Ion_uA", "panel-H2_atm", "panel-CCoarse"}) {
        EXPECT_EQ(count(dom.out, id), 1u) << id;
    }

    // The page opens with the maser's state and the table: the panels come after.
    const Picture shot = screenshot(dir, page, 800, 2400);
    int inked = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            inked += shot.ink(x, y);
        }
    }
    // Three panels of some 500 columns of data each.
    EXPECT_GT(inked, 1000) << "the page shows no plot";
}

// A year of records every ten minutes, with one record of a spike and five
// days without records: both must be seen in a picture of 1112 columns, each
// of almost eight hours.
TEST(Browser, YearLogShowsItsOneSpikeAndItsGap) {
    h2test::TempDir dir;
    constexpr long long kStart = 61000000000; // MJD 61000
    constexpr long long kStep = 6944;         // ten minutes, in microdays
    constexpr int kRecords = 365 * 144;
    constexpr int kSpike = 30000;
    constexpr int kGapFrom = 14400, kGapTo = 15120; // days 100 to 105
    std::string log;
    for (int i = 0; i < kRecords; ++i) {
        if (i >= kGapFrom && i < kGapTo) {
            continue;
        }
        const std::string ion = i == kSpike ? "50.000" : i % 7 < 3 ? "1.221" : "1.465";
        log += h2test::log_row(kStart + i * kStep, {{"Ion_uA", ion}, {"H2_atm", "-0.600"}}) + "\n";
    }
    ASSERT_TRUE(h2test::write_text_file(dir.file("year.csv"), log));
    const int width = 1200;
    const std::string svg = dir.file("year.svg");
    const ProgramRun plot = h2test::run_program(
        {H2PLOT_PATH, "--channels", "Ion_uA,H2_atm", "-o", svg, dir.file("year.csv")});
    ASSERT_EQ(plot.exit_code, 0) << plot.err;

    // The mean line breaks once in each panel, and the gap is marked there.
    const std::string text = h2test::read_text_file(svg);
    EXPECT_EQ(count(text, "<polyline class=\"mean\""), 4u);
    EXPECT_EQ(count(text, "class=\"gap\""), 2u);

    const Picture shot = screenshot(dir, svg, width, 400);
    ASSERT_GE(shot.width, width);
    const std::vector<PanelBox> boxes = frames(text);
    ASSERT_EQ(boxes.size(), 2u);
    const PanelBox ion = boxes[0];
    const double span = static_cast<double>(kRecords - 1);
    const auto x_of = [&](double record) {
        return ion.left + static_cast<int>(record / span * ion.width);
    };
    const auto ink_near_top = [&](int x) {
        for (int y = ion.top + 1; y < ion.top + 20; ++y) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (shot.ink(x + dx, y)) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(ink_near_top(x_of(kSpike))) << "no spike at x " << x_of(kSpike);
    EXPECT_FALSE(ink_near_top(x_of(kSpike - 3000))) << "the spike is not alone";

    const int gap_x = x_of((kGapFrom + kGapTo) / 2.0);
    for (int panel = 0; panel < 2; ++panel) {
        const PanelBox box = boxes[static_cast<std::size_t>(panel)];
        EXPECT_TRUE(shot.gap_colour(gap_x, box.top + box.height / 2)) << "panel " << panel;
        for (int y = box.top + 1; y < box.top + box.height; ++y) {
            ASSERT_FALSE(shot.ink(gap_x, y)) << "a line across the gap, panel " << panel;
        }
    }
}

// A day at one record a minute, then every ten seconds with four minutes lost
// soon after the change, and nothing from 16:00 to the end of the range: the
// short outage and the silence at the end are shaded, the change of interval
// is not.
TEST(Browser, GapsAfterAnIntervalChangeAndAtTheRangeEndAreShaded) {
    h2test::TempDir dir;
    constexpr long long kDay = 61384000000;
    constexpr double kSecond = 1e6 / 86400;
    std::string log;
    const auto stretch = [&](int from, int to, int step) { // seconds of the day
        for (int s = from; s < to; s += step) {
            log += h2test::log_row(kDay + std::llround(s * kSecond), {{"Ion_uA", "1.221"}}) + "\n";
        }
    };
    stretch(0, 6 * 3600, 60);
    stretch(6 * 3600, 6 * 3600 + 120, 10);
    stretch(6 * 3600 + 360, 16 * 3600, 10);
    ASSERT_TRUE(h2test::write_text_file(dir.file("day.csv"), log));
    const std::string svg = dir.file("day.svg");
    const ProgramRun plot =
        h2test::run_program({H2PLOT_PATH, "--channels", "Ion_uA", "--from", "61384", "--to",
                             "61385", "-o", svg, dir.file("day.csv")});
    ASSERT_EQ(plot.exit_code, 0) << plot.err;
    const std::vector<PanelBox> boxes = frames(h2test::read_text_file(svg));
    ASSERT_EQ(boxes.size(), 1u);
    const PanelBox box = boxes[0];
    const Picture shot = screenshot(dir, svg, 1200, 300);
    const auto x_of = [&box](double seconds) {
        return box.left + static_cast<int>(seconds / 86400 * box.width);
    };
    const auto shaded = [&](double seconds) {
        return shot.gap_colour(x_of(seconds), box.top + 10);
    };
    const auto inked = [&](double seconds) {
        for (int y = box.top + 1; y < box.top + box.height; ++y) {
            if (shot.ink(x_of(seconds), y)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(shaded(6 * 3600 + 240)) << "the outage after the change";
    EXPECT_FALSE(inked(6 * 3600 + 240));
    EXPECT_TRUE(shaded(20 * 3600)) << "the silence up to the end of the range";
    EXPECT_TRUE(shaded(86400 - 30)) << "the shading reaches the frame";
    for (double seconds : {3 * 3600.0, 6 * 3600.0 + 1800, 12 * 3600.0}) {
        EXPECT_FALSE(shaded(seconds)) << seconds;
        EXPECT_TRUE(inked(seconds)) << seconds;
    }
}

// A week of a maser from h2sim, a record a minute, as DIR/east.csv: the
// days up to 2026-06-11 00:00.
void simulated_week(const h2test::TempDir& dir, const std::string& scenario) {
    const ProgramRun run = h2test::run_program({H2SIM_PATH, "--write-log", dir.file("east.csv"),
                                                "--start", "2026-06-01", "--span", "10d",
                                                "--interval", "1min", "--scenario", scenario});
    ASSERT_EQ(run.exit_code, 0) << run.err;
}

// The page of every channel, measured in the browser at a window's width:
// the page's own width, the table's right edge and the narrowest cell of the
// descriptions, the right edge of the box that holds the table.
struct TableLayout {
    int page = 0;
    int window = 0;
    int table_right = 0;
    int narrowest_description = 0;
    int box_right = 0;
};

TableLayout measure(const h2test::TempDir& dir, const std::string& page, int width) {
    static const char* const kMeasure =
        "<script>\n"
        "const t = document.querySelector('table.stats');\n"
        "const box = document.querySelector('div.scroll') || t;\n"
        "const widths = [...t.querySelectorAll('tbody td:nth-child(2)')]\n"
        "    .map(c => c.getBoundingClientRect().width);\n"
        "document.body.setAttribute('data-measured', [document.documentElement.scrollWidth,\n"
        "    window.innerWidth, t.getBoundingClientRect().right, Math.min(...widths),\n"
        "    box.getBoundingClientRect().right].map(Math.round).join(' '));\n"
        "</script>\n";
    std::string text = h2test::read_text_file(page);
    text.insert(text.rfind("</body>"), kMeasure);
    const std::string measured = dir.file("measured.html");
    EXPECT_TRUE(h2test::write_text_file(measured, text));
    const ProgramRun dom =
        chromium(dir, measured, {"--dump-dom", "--window-size=" + std::to_string(width) + ",1000"});
    static const std::regex kMeasured("data-measured=\"(\\d+) (\\d+) (\\d+) (\\d+) (\\d+)\"");
    std::smatch m;
    TableLayout layout;
    if (!std::regex_search(dom.out, m, kMeasured)) {
        ADD_FAILURE() << "nothing measured: " << dom.err;
        return layout;
    }
    layout = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5])};
    return layout;
}

// With every channel, the table fits a window 1300 pixels wide with each
// description some words a line (not a word a line); in a window 800 wide
// the table scrolls in its own box, and the page itself never overflows.
TEST(Browser, TheTableOfEveryChannelFitsTheWindow) {
    h2test::TempDir dir;
    simulated_week(dir, "quiet");
    const std::string page = dir.file("all.html");
    const ProgramRun plot =
        h2test::run_program({H2PLOT_PATH, "--channels", "all", "--limits", dir.file("none"), "-o",
                             page, dir.file("east.csv")});
    ASSERT_EQ(plot.exit_code, 0) << plot.err;
    const TableLayout wide = measure(dir, page, 1300);
    EXPECT_EQ(wide.window, 1300);
    EXPECT_LE(wide.page, 1300);
    EXPECT_LE(wide.table_right, 1300);
    // "Level of frequency synthesizer signal" and the like: three words and more.
    EXPECT_GE(wide.narrowest_description, 200);
    const TableLayout narrow = measure(dir, page, 800);
    EXPECT_LE(narrow.page, 800);
    EXPECT_LE(narrow.box_right, 800);
}

// The README's pictures of the page the package's timer makes: a quiet
// maser's week, and a leaking one's with an entry in its logbook. The page
// is kept as a golden file, and the picture is made from it again whenever
// it changes (a screenshot depends on the fonts of the machine it is taken
// on and may differ by a pixel from run to run, the page does not): H2_UPDATE_GOLDENS=1 ctest
// --preset dev -R ReadmesPictures, then commit the pages and docs/h2plot-page-*.png.
TEST(Browser, TheReadmesPicturesOfThePageAreUpToDate) {
    const struct {
        const char* scenario;
        const char* logbook;
    } weeks[] = {
        {"quiet", ""},
        {"vacuum-leak", "2026-06-08 10:00 hydrogen: new bottle fitted, 150 bar\n"},
    };
    for (const auto& week : weeks) {
        h2test::TempDir dir;
        simulated_week(dir, week.scenario);
        if (*week.logbook != '\0') {
            ASSERT_TRUE(h2test::write_text_file(dir.file("east.logbook"), week.logbook));
        }
        // In the log's folder, so that the page names the files as the
        // timer's page does, by their names.
        const ProgramRun plot =
            h2test::run_program({"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir.file(""),
                                 H2PLOT_PATH, "--last", "7d", "--to", "2026-06-11", "--title",
                                 "east", "--limits", ".", "-o", "east.html", "east.csv"});
        ASSERT_EQ(plot.exit_code, 0) << plot.err;
        const std::string name = std::string("h2plot-page-") + week.scenario;
        const std::string kept = H2PLOT_TEST_DIR "/golden/" + name + ".html";
        const std::string png = H2PLOT_DOCS_DIR "/" + name + ".png";
        const std::string made = h2test::read_text_file(dir.file("east.html"));
        // A screenshot may differ by a pixel from one run to the next: it is
        // taken again only for a page that changed, or that has none.
        const bool shoot = h2test::updating_goldens() &&
                           (h2test::read_text_file(kept) != made || !std::filesystem::exists(png));
        const std::string mismatch = h2test::golden_mismatch(kept, made);
        EXPECT_TRUE(mismatch.empty()) << mismatch;
        if (shoot) {
            const ProgramRun shot = chromium(dir, dir.file("east.html"),
                                             {"--screenshot=" + png, "--window-size=1300,1600"});
            ASSERT_EQ(shot.exit_code, 0) << shot.err;
        }
        Picture picture;
        ASSERT_TRUE(read_png(png, picture)) << png << " is missing: H2_UPDATE_GOLDENS=1 makes it";
        EXPECT_EQ(picture.width, 1300);
    }
}

} // namespace
