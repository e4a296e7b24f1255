// Whole lines out of a byte stream that arrives in pieces (a log being
// appended to, a file read in blocks, a decompressor's output). A line counts
// only once its "\n" has arrived; a line longer than the limit is reported as
// overlong once and skipped up to its end, so a log full of binary garbage
// never makes the reader hold more than the limit.
//
// h2mon writes no NUL byte. A run of them is a hole: what a power loss leaves
// where the file had grown but its last blocks never reached the disk. A hole
// is passed on once, as the line kHoleLine, together with the unfinished line
// it cut; what follows it starts a new line, so the first row h2mon appends
// after its restart is read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

// The offset of the first "\n" or NUL byte of `bytes`, or npos: one pass over
// the bytes instead of a search for each, as every byte of a log goes through it.
std::size_t find_line_end_or_nul(std::string_view bytes);

class LineAssembler {
public:
    explicit LineAssembler(std::size_t max_line = kDefaultMaxLine) : max_line_(max_line) {}

    // What a hole is passed on as: one NUL byte, which no reader takes for a row.
    static constexpr std::string_view kHoleLine{"\0", 1};

    // Calls on_line(std::string_view line) for every line that `bytes`
    // completes, without its "\n", and on_overlong() once for every line over
    // the limit. Lines wholly inside `bytes` are passed without a copy. An
    // on_line that returns false stops the feeding after its line. Returns how
    // many bytes were taken: all of them, unless on_line stopped it.
    // `find_end` finds the next line end or NUL byte in what is left of
    // `bytes`, as find_line_end_or_nul does; a reader that already knows
    // where they are passes its own.
    template <class OnLine, class OnOverlong, class FindEnd = std::size_t (*)(std::string_view)>
    std::size_t feed(std::string_view bytes, OnLine&& on_line, OnOverlong&& on_overlong,
                     FindEnd&& find_end = find_line_end_or_nul);

    // Bytes of a line whose "\n" has not come yet.
    std::size_t pending() const { return partial_.size(); }

    // Where the stream stands after the bytes fed so far, for a reader that
    // stops and later goes on from the byte after them: inside a line (whose
    // pending() bytes it reads again), inside an overlong line already
    // reported, or inside a hole already reported.
    enum class Inside { kLine, kOverlong, kHole };
    Inside inside() const {
        return skipping_ ? Inside::kOverlong : in_hole_ ? Inside::kHole : Inside::kLine;
    }
    // Goes on as if the bytes before had left the stream `where`: the rest
    // of an overlong line or a hole is skipped without being passed on again.
    // kOverlong also starts a reading in the middle of a line (the tail of a log).
    void resume_inside(Inside where) {
        reset();
        skipping_ = where == Inside::kOverlong;
        in_hole_ = where == Inside::kHole;
    }

    // Forgets the unfinished line, for a file that was truncated or replaced.
    void reset() {
        partial_.clear();
        skipping_ = false;
        in_hole_ = false;
    }

    static constexpr std::size_t kDefaultMaxLine = 64 * 1024;

private:
    std::size_t max_line_;
    std::string partial_;
    bool skipping_ = false; // inside an overlong line, until its "\n"
    bool in_hole_ = false;  // inside a run of NUL bytes
};

template <class OnLine, class OnOverlong, class FindEnd>
std::size_t LineAssembler::feed(std::string_view bytes, OnLine&& on_line, OnOverlong&& on_overlong,
                                FindEnd&& find_end) {
    const std::size_t size = bytes.size();
    // A handler that returns bool can stop the feeding after its line.
    const auto pass = [&](std::string_view line) {
        if constexpr (std::is_same_v<decltype(on_line(line)), bool>) {
            return on_line(line);
        } else {
            on_line(line);
            return true;
        }
    };
    while (!bytes.empty()) {
        if (in_hole_) {
            const std::size_t data = bytes.find_first_not_of('\0');
            if (data == std::string_view::npos) {
                return size;
            }
            in_hole_ = false;
            // The hole ended the line it cut; a line end right after it ends nothing more.
            bytes.remove_prefix(bytes[data] == '\n' ? data + 1 : data);
            continue;
        }
        const std::size_t end = find_end(bytes);
        const bool complete = end != std::string_view::npos;
        const bool hole = complete && bytes[end] == '\0';
        const std::string_view piece = bytes.substr(0, end);
        bytes.remove_prefix(complete ? end + 1 : bytes.size());
        bool go_on = true;
        if (hole) {
            partial_.clear();
            skipping_ = false;
            in_hole_ = true;
            go_on = pass(kHoleLine);
        } else if (skipping_) {
            skipping_ = !complete;
        } else if (partial_.size() + piece.size() > max_line_) {
            on_overlong();
            partial_.clear();
            skipping_ = !complete;
        } else if (!complete) {
            partial_.append(piece);
        } else if (partial_.empty()) {
            go_on = pass(piece);
        } else {
            partial_.append(piece);
            go_on = pass(std::string_view(partial_));
            partial_.clear();
        }
        if (!go_on) {
            return size - bytes.size();
        }
    }
    return size;
}
