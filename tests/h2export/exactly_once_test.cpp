// h2export --influx on a station that does everything at once, at random:
// logs appear and grow, are rotated by renaming (h2mon writing on into the
// renamed file until it reopens its path) or by copytruncate, their older
// files compressed (compress, delaycompress), logs deleted once their rows
// are saved and made again; and h2export itself killed (SIGKILL) at any moment
// and started again. What must hold:
//
// - a file output holds every row of every log once, in order: the points
//   written after the last saved positions are cut off at the next start;
// - on standard output every row comes at least once, in order: each run
//   writes a run of each maser's rows without a gap, and only a run after a
//   kill may begin again with rows the killed one wrote (its unsaved batch).
//
// The seed of the changes is printed; H2EXPORT_SOAK_SEED=N picks it (the
// changes come in its order; how far h2export gets between them is the
// machine's), H2EXPORT_SOAK_SECONDS=S makes the run longer (25 s of changes
// per output by default):
//   H2EXPORT_SOAK_SECONDS=600
//   build/dev/tests/h2export/h2export_exactly_once_test
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"

#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace h2export_test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

long setting(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atol(text) : fallback;
}

// One maser's log as h2mon writes it, and every row it was given.
struct Maser {
    std::string log;
    int fd = -1;                     // h2mon's open log: after a rename, the renamed file
    bool reopen_due = false;         // renamed away: h2mon opens its path again soon
    bool last_deleted = false;       // the file of its last row was deleted
    std::vector<std::int64_t> times; // of every row written, in order

    void open() {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        reopen_due = false;
    }
};

// The points of a line protocol text, per maser: their times in order.
std::map<std::string, std::vector<std::int64_t>> points_of(const std::string& text) {
    std::map<std::string, std::vector<std::int64_t>> points;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t tag = line.find("maser=");
        const std::size_t space = line.find(' ');
        const std::string time = line.substr(line.rfind(' ') + 1);
        if (tag == std::string::npos || space == std::string::npos || time.empty() ||
            time.find_first_not_of("0123456789") != std::string::npos) {
            continue; // not a point: a missing one shows as such
        }
        points[line.substr(tag + 6, space - tag - 6)].push_back(std::stoll(time));
    }
    return points;
}

// The saved state's time of the last record read for `maser`; -1 if none.
std::int64_t saved_time(const std::string& state, const std::string& maser) {
    std::istringstream lines(h2test::read_text_file(state));
    std::string line;
    std::int64_t time = -1;
    while (std::getline(lines, line)) {
        if (line.rfind("position " + maser + " ", 0) == 0) {
            time = std::stoll(line.substr(line.rfind(' ') + 1));
        }
    }
    return time;
}

class Station {
public:
    Station(unsigned seed, bool to_stdout) : random_(seed), to_stdout_(to_stdout) {
        fs::create_directory(logs_);
        fs::create_directory(dir_.file("textfiles"));
    }
    ~Station() {
        for (auto& [name, maser] : masers_) {
            ::close(maser.fd);
        }
    }

    void run(std::chrono::seconds length) {
        start();
        const auto end = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < end) {
            step();
            take_output();
        }
        if (!h2export_) {
            start();
        }
    }

    // Waits for every row to come out, then stops h2export in order.
    void finish() {
        const std::size_t rows = row_count();
        eventually(
            [&] {
                take_output();
                std::size_t seen = 0;
                for (const auto& [name, times] : points_of(output())) {
                    seen += std::set<std::int64_t>(times.begin(), times.end()).size();
                }
                return seen >= rows;
            },
            milliseconds(60000));
        stop(SIGTERM);
    }

    void check() const {
        const auto points = points_of(output());
        for (const auto& [name, maser] : masers_) {
            SCOPED_TRACE(name);
            const auto found = points.find(name);
            const std::vector<std::int64_t> none;
            const std::vector<std::int64_t>& seen = found != points.end() ? found->second : none;
            if (!to_stdout_) {
                EXPECT_EQ(seen.size(), maser.times.size());
                EXPECT_TRUE(seen == maser.times) << first_difference(seen, maser.times);
            }
        }
        if (to_stdout_) {
            check_runs();
        }
        // The textfile shows each maser's latest record, when a file still holds
        // it.
        for (const auto& [name, maser] : masers_) {
            if (maser.last_deleted) {
                continue;
            }
            const std::string seen =
                sample_of(h2test::read_text_file(dir_.file("textfiles/h2mon-" + name + ".prom")),
                          "maser_last_record_timestamp_seconds{maser=\"" + name + "\"}");
            ASSERT_NE(seen, "") << name;
            EXPECT_NEAR(std::stod(seen), static_cast<double>(maser.times.back()) / 1e9, 1e-3)
                << name;
        }
        EXPECT_EQ(stderr_.find("skipped"), std::string::npos) << stderr_;
    }

    std::string summary() const {
        std::ostringstream text;
        text << row_count() << " rows of " << masers_.size() << " masers, " << rotations_
             << " rotations, " << deletions_ << " logs deleted and made again, " << kills_
             << " kills";
        return text.str();
    }

private:
    std::string output() const {
        if (!to_stdout_) {
            return h2test::read_text_file(output_);
        }
        std::string all;
        for (const std::string& run : runs_) {
            all += run;
        }
        return all;
    }

    std::size_t row_count() const {
        std::size_t rows = 0;
        for (const auto& [name, maser] : masers_) {
            rows += maser.times.size();
        }
        return rows;
    }

    static std::string first_difference(const std::vector<std::int64_t>& seen,
                                        const std::vector<std::int64_t>& rows) {
        std::size_t i = 0;
        while (i < seen.size() && i < rows.size() && seen[i] == rows[i]) {
            ++i;
        }
        return "the first difference at point " + std::to_string(i) + " of " +
               std::to_string(seen.size()) + " (rows: " + std::to_string(rows.size()) + ")";
    }

    // Each run wrote a run of each maser's rows, in order, beginning no later
    // than the run before it ended (nothing skipped), and again before it only
    // after a kill; the last run ends with the last row.
    void check_runs() const {
        for (const auto& [name, maser] : masers_) {
            SCOPED_TRACE(name);
            std::size_t reached = 0;
            for (std::size_t r = 0; r < runs_.size(); ++r) {
                const auto points = points_of(runs_[r]);
                const auto found = points.find(name);
                if (found == points.end()) {
                    continue;
                }
                const std::vector<std::int64_t>& seen = found->second;
                const auto at = std::find(maser.times.begin(), maser.times.end(), seen.front());
                ASSERT_NE(at, maser.times.end()) << "run " << r << ": a point of no row";
                const auto begin = static_cast<std::size_t>(at - maser.times.begin());
                EXPECT_LE(begin, reached) << "run " << r << " skipped rows";
                if (r == 0 || !killed_[r - 1]) {
                    EXPECT_EQ(begin, reached) << "run " << r << " repeated rows after a stop";
                }
                ASSERT_LE(begin + seen.size(), maser.times.size()) << "run " << r;
                EXPECT_TRUE(std::equal(seen.begin(), seen.end(), maser.times.begin() + begin))
                    << "run " << r << ": not the rows in order";
                reached = std::max(reached, begin + seen.size());
            }
            EXPECT_EQ(reached, maser.times.size());
        }
    }

    void start() {
        h2export_ = std::make_unique<h2test::ChildProcess>();
        std::vector<std::string> args{
            "--follow-dir", logs_,  "--textfile", dir_.file("textfiles"),
            "--state",      state_, "--influx",   to_stdout_ ? "-" : output_};
        start_h2export(*h2export_, args);
        runs_.emplace_back();
    }

    // Whole lines only: the last line of a run killed while writing it is cut.
    void take_output() {
        std::string line;
        while (h2export_ && h2export_->read_stdout_line(line, milliseconds(0))) {
            runs_.back() += line + "\n";
        }
    }

    void stop(int signal) {
        h2export_->signal(signal);
        int status = 0;
        EXPECT_TRUE(h2export_->wait_exit(status, milliseconds(10000)));
        if (signal == SIGTERM) {
            EXPECT_EQ(status, 0);
        }
        take_output();
        stderr_ += h2export_->read_stderr(milliseconds(0));
        killed_.push_back(signal == SIGKILL);
        h2export_.reset();
    }

    int chance(int percent) { return static_cast<int>(random_() % 100) < percent; }
    int between(int low, int high) {
        return low + static_cast<int>(random_() % static_cast<unsigned>(high - low + 1));
    }

    Maser& some_maser() {
        auto it = masers_.begin();
        std::advance(it, between(0, static_cast<int>(masers_.size()) - 1));
        return it->second;
    }

    void write_rows(Maser& maser, int count) {
        if (maser.reopen_due && chance(50)) {
            maser.open();
        }
        std::string text;
        for (int i = 0; i < count; ++i) {
            // Distinct MJDs (a step of 86.4 ms), in the near future.
            next_time_ += 0.1;
            const std::string row = random_row(mjd_text(next_time_), random_());
            std::int64_t ns = 0;
            mjd_unix_ns(row.substr(0, row.find(',')), &ns);
            maser.times.push_back(ns);
            maser.last_deleted = false;
            text += row;
        }
        ASSERT_EQ(::write(maser.fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    void add_maser() {
        const std::string name = "m" + std::to_string(masers_.size());
        Maser& maser = masers_[name];
        maser.log = logs_ + "/" + name + ".csv";
        maser.open();
        write_rows(maser, between(1, 30));
    }

    void rotate(Maser& maser) {
        if (maser.reopen_due || !fs::exists(maser.log)) {
            return;
        }
        const bool rename = chance(50);
        rotate_log(maser.log, rename ? Rotation::kRename : Rotation::kCopyTruncate, chance(70));
        maser.reopen_due = rename;
        ++rotations_;
    }

    // Once its rows are saved as read, a log may go: it is deleted, and
    // h2mon, restarted, makes it again.
    void delete_and_make_again(Maser& maser) {
        if (!h2export_ || maser.times.empty() ||
            !eventually([&] { return saved_time(state_, maser_name(maser)) == maser.times.back(); },
                        milliseconds(2000))) {
            return;
        }
        fs::remove(maser.log);
        maser.last_deleted = !maser.reopen_due;
        maser.open();
        ++deletions_;
    }

    std::string maser_name(const Maser& maser) const { return fs::path(maser.log).stem().string(); }

    // One change of the station, then a pause of up to 20 ms: h2export is
    // caught at every stage of its work, behind or not.
    void step() {
        const int action = between(0, 99);
        if (masers_.empty() || (action < 3 && masers_.size() < 4)) {
            add_maser();
        } else if (action < 60) {
            write_rows(some_maser(), between(1, 10));
        } else if (action < 75) {
            rotate(some_maser());
        } else if (action < 77) {
            delete_and_make_again(some_maser());
        } else if (action < 79 && h2export_) {
            stop(SIGKILL);
            ++kills_;
        } else if (action < 90 && !h2export_) {
            start();
        }
        std::this_thread::sleep_for(milliseconds(between(0, 20)));
    }

    h2test::TempDir dir_;
    const std::string logs_ = dir_.file("logs");
    const std::string output_ = dir_.file("points.lp");
    const std::string state_ = dir_.file("points.state");
    std::mt19937 random_;
    bool to_stdout_;
    double next_time_ =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() +
        10;
    std::map<std::string, Maser> masers_;
    std::unique_ptr<h2test::ChildProcess> h2export_;
    std::vector<std::string> runs_; // standard output of each run
    std::vector<bool> killed_;      // whether each run ended by a kill
    std::string stderr_;
    int rotations_ = 0, deletions_ = 0, kills_ = 0;
};

void run_station(bool to_stdout) {
    const unsigned seed = static_cast<unsigned>(
        setting("H2EXPORT_SOAK_SEED", static_cast<long>(std::random_device()() % 1000000)));
    const long seconds = setting("H2EXPORT_SOAK_SECONDS", 25);
    std::printf("seed %u (H2EXPORT_SOAK_SEED=%u repeats this run), %ld s\n", seed, seed, seconds);
    ::testing::Test::RecordProperty("seed", static_cast<int>(seed));
    Station station(seed, to_stdout);
    station.run(std::chrono::seconds(seconds));
    station.finish();
    std::printf("%s\n", station.summary().c_str());
    station.check();
}

TEST(ExactlyOnce, EveryRowOnceInTheFileThroughRotationsAndKills) {
    run_station(false);
}

TEST(ExactlyOnce, EveryRowAtLeastOnceOnStandardOutputThroughRotationsAndKills) {
    run_station(true);
}

} // namespace
} // namespace h2export_test
