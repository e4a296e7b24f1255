// Reading one of h2mon's logs, plain or gzip-compressed, whole lines at a
// time. Every program that reads logs from start to end reads them here, so
// that they agree on what a log holds:
// - compression is known by the content (gzip's magic bytes), never the name;
// - the input is read exactly once, so a pipe works; "-" is standard input;
// - a line counts once its "\n" has come, and the last line of the input
//   counts without one: a log cut after its last record still has it;
// - a compressed log that ends early or fails its check is damaged: the lines
//   before the damage count, the cut line does not, and the reason is kept.
#pragma once

#include "telemetry/line_assembler.h"
#include "telemetry/read_ahead.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct gzFile_s;

enum class ReadEnd {
    kPaused,  // the line handler asked to stop; read() goes on from the next line
    kEnd,     // every line was read
    kDamaged, // the input failed part way: damage() says why
};

class LogReader {
public:
    explicit LogReader(std::size_t max_line = LineAssembler::kDefaultMaxLine);
    ~LogReader();
    LogReader(LogReader&&) noexcept;
    LogReader& operator=(LogReader&&) noexcept;

    // Opens `path`, or standard input for "-". False, with "cannot open PATH:
    // reason" in `error`, when it cannot be opened.
    bool open(const std::string& path, std::string& error);

    // Passes every line, without its line end, to on_line(std::string_view),
    // which returns false to pause the reading after that line; calls
    // on_overlong() for every line longer than the limit, which is skipped.
    template <class OnLine, class OnOverlong>
    ReadEnd read(OnLine&& on_line, OnOverlong&& on_overlong);

    // The name of the input in messages: its path, or "standard input".
    const std::string& name() const { return name_; }

    // "NAME: damaged after N rows: REASON", for an input read to kDamaged;
    // `rows` is how many records the caller took from it.
    std::string damage(std::uint64_t rows) const;

private:
    // The next bytes of the input into the block; false at its end or on damage.
    bool refill();
    // The offset of the next line end or NUL byte in `rest`, the unread part
    // of the block: from the block's index where it has one.
    std::size_t find_end(std::string_view rest);
    // Reads up to `size` bytes into `into`: how many, 0 at the end or on damage.
    static std::size_t read_block(gzFile_s* file, char* into, std::size_t size,
                                  std::string& failure);

    struct GzCloser {
        void operator()(gzFile_s* file) const;
    };
    std::unique_ptr<gzFile_s, GzCloser> file_;
    std::string name_;
    std::string failure_; // the reason of the damage, copied while the stream holds it
    LineAssembler lines_;
    // The block read in turn: the first block of every input, and every
    // block of a pipe. After the first block, a file is read ahead by a thread.
    std::vector<char> own_block_;
    std::unique_ptr<ReadAhead> ahead_;
    bool may_read_ahead_ = false; // a file, whose reads end by themselves
    const char* block_ = nullptr;
    // Where the block's lines end, as far as the thread found them:
    // [next_end_, last_end_) are those not yet passed, up to byte indexed_.
    const std::uint32_t* next_end_ = nullptr;
    const std::uint32_t* last_end_ = nullptr;
    std::size_t indexed_ = 0;
    std::size_t at_ = 0; // unread bytes of the block: [at_, end_)
    std::size_t end_ = 0;
    bool first_ = true; // the first read looks at a few KiB only
    bool done_ = false;
};

inline std::size_t LogReader::find_end(std::string_view rest) {
    const auto offset = static_cast<std::size_t>(rest.data() - block_);
    while (next_end_ != last_end_ && *next_end_ < offset) {
        ++next_end_;
    }
    if (next_end_ != last_end_) {
        return *next_end_ - offset;
    }
    const std::size_t skip = indexed_ > offset ? indexed_ - offset : 0;
    if (skip >= rest.size()) {
        return std::string_view::npos;
    }
    const std::size_t end = find_line_end_or_nul(rest.substr(skip));
    return end == std::string_view::npos ? end : skip + end;
}

template <class OnLine, class OnOverlong>
ReadEnd LogReader::read(OnLine&& on_line, OnOverlong&& on_overlong) {
    bool pause = false;
    const auto line = [&](std::string_view text) {
        pause = !on_line(text);
        return !pause;
    };
    while (!pause) {
        if (at_ == end_ && !refill()) {
            if (!failure_.empty()) {
                // The cut line of a damaged input is no record.
                lines_.reset();
                return ReadEnd::kDamaged;
            }
            if (lines_.pending() > 0) {
                lines_.feed("\n", line, on_overlong);
            }
            return pause ? ReadEnd::kPaused : ReadEnd::kEnd;
        }
        // A pause keeps the rest of the block for the next read().
        at_ += lines_.feed(std::string_view(block_ + at_, end_ - at_), line, on_overlong,
                           [this](std::string_view rest) { return find_end(rest); });
    }
    return ReadEnd::kPaused;
}
