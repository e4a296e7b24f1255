// Whole lines out of a byte stream that arrives in pieces (a log being
// appended to, a file read in blocks, a decompressor's output). A line counts
// only once its "\n" has arrived; a line longer than the limit is reported as
// overlong once and skipped up to its end, so a log full of binary garbage
// never makes the reader hold more than the limit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class LineAssembler {
public:
    explicit LineAssembler(std::size_t max_line = kDefaultMaxLine) : max_line_(max_line) {}

    // Calls on_line(std::string_view line) for every line that `bytes`
    // completes, without its "\n", and on_overlong() once for every line over
    // the limit. Lines wholly inside `bytes` are passed without a copy.
    template <class OnLine, class OnOverlong>
    void feed(std::string_view bytes, OnLine&& on_line, OnOverlong&& on_overlong);

    // Bytes of a line whose "\n" has not come yet.
    std::size_t pending() const { return partial_.size(); }

    // Forgets the unfinished line, for a file that was truncated or replaced.
    void reset() {
        partial_.clear();
        skipping_ = false;
    }

    static constexpr std::size_t kDefaultMaxLine = 64 * 1024;

private:
    std::size_t max_line_;
    std::string partial_;
    bool skipping_ = false; // inside an overlong line, until its "\n"
};

template <class OnLine, class OnOverlong>
void LineAssembler::feed(std::string_view bytes, OnLine&& on_line, OnOverlong&& on_overlong) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        const bool complete = end != std::string_view::npos;
        bytes.remove_prefix(complete ? end + 1 : bytes.size());
        if (skipping_) {
            skipping_ = !complete;
            continue;
        }
        if (partial_.size() + piece.size() > max_line_) {
            on_overlong();
            partial_.clear();
            skipping_ = !complete;
            continue;
        }
        if (!complete) {
            partial_.append(piece);
        } else if (partial_.empty()) {
            on_line(piece);
        } else {
            partial_.append(piece);
            on_line(std::string_view(partial_));
            partial_.clear();
        }
    }
}
