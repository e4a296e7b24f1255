#include "telemetry/read_ahead.h"

#include "telemetry/line_assembler.h"

#include <algorithm>

namespace {

// A block of lines shorter than 32 bytes on average is no log of rows; its
// index stops there and the reader searches the rest itself.
constexpr std::size_t kBytesPerLineEnd = 32;

} // namespace

ReadAhead::ReadAhead(Fill fill, std::size_t block_size, int blocks)
    : fill_(std::move(fill)),
      slots_(static_cast<std::size_t>(blocks), Slot{std::vector<char>(block_size), 0, {}, 0}),
      refill_(static_cast<std::size_t>(std::max(1, blocks / 2))),
      thread_([this] { fill_blocks(); }) {}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    room_.notify_one();
    thread_.join();
}

std::size_t ReadAhead::free_blocks(std::size_t k) const {
    // Block k may be filled once k + 1 < taken_ + blocks: the block in use by
    // the reader (taken_ - 1) and those filled but not yet taken are kept.
    return taken_ + slots_.size() - 1 - k;
}

void ReadAhead::fill_blocks() {
    std::string failure;
    for (std::size_t k = 0;; ++k) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (free_blocks(k) == 0) {
                // Waking for several free blocks rather than each one halves
                // the hand-overs, which are dear where waking a thread is.
                filler_waiting_ = true;
                room_.wait(lock, [&] { return stop_ || free_blocks(k) >= refill_; });
                filler_waiting_ = false;
            }
            if (stop_) {
                return;
            }
        }
        Slot& slot = slots_[k % slots_.size()];
        const std::size_t got = fill_(slot.bytes.data(), slot.bytes.size(), failure);
        slot.size = got;
        index_line_ends(slot);
        bool wake;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            filled_ = k + 1;
            ended_ = got == 0;
            failure_ = std::move(failure);
            wake = reader_waiting_;
        }
        if (wake) {
            filled_one_.notify_one();
        }
        if (got == 0) {
            return;
        }
    }
}

void ReadAhead::index_line_ends(Slot& slot) {
    const std::string_view bytes(slot.bytes.data(), slot.size);
    std::vector<std::uint32_t>& ends = slot.line_ends;
    const std::size_t most = slot.bytes.size() / kBytesPerLineEnd;
    ends.clear();
    std::size_t at = 0;
    while (ends.size() < most) {
        const std::size_t end = find_line_end_or_nul(bytes.substr(at));
        if (end == std::string_view::npos) {
            at = bytes.size();
            break;
        }
        ends.push_back(static_cast<std::uint32_t>(at + end));
        at += end + 1;
    }
    slot.indexed = at;
}

ReadAhead::Block ReadAhead::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_ && taken_ == filled_) {
        return {{}, nullptr, 0, 0};
    }
    // Taking the next block gives the one before back to the thread.
    ++taken_;
    if (filler_waiting_ && free_blocks(filled_) >= refill_) {
        room_.notify_one();
    }
    if (filled_ < taken_) {
        reader_waiting_ = true;
        filled_one_.wait(lock, [&] { return filled_ >= taken_; });
        reader_waiting_ = false;
    }
    const Slot& slot = slots_[(taken_ - 1) % slots_.size()];
    return {
        {slot.bytes.data(), slot.size}, slot.line_ends.data(), slot.line_ends.size(), slot.indexed};
}
