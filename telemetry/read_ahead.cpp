#include "telemetry/read_ahead.h"

#include "telemetry/line_assembler.h"

namespace {

// A block of lines shorter than 32 bytes on average is no log of rows; its
// index stops there and the reader searches the rest itself.
constexpr std::size_t kBytesPerLineEnd = 32;

} // namespace

ReadAhead::ReadAhead(Fill fill, std::size_t block_size, int blocks)
    : fill_(std::move(fill)),
      blocks_(static_cast<std::size_t>(blocks), std::vector<char>(block_size)),
      sizes_(static_cast<std::size_t>(blocks)), line_ends_(static_cast<std::size_t>(blocks)),
      indexed_(static_cast<std::size_t>(blocks)), thread_([this] { fill_blocks(); }) {}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::fill_blocks() {
    std::string failure;
    for (std::size_t k = 0;; ++k) {
        {
            // The block in use by the reader (taken_ - 1) and those filled
            // but not yet taken are not to be written.
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || k + 1 < taken_ + blocks_.size(); });
            if (stop_) {
                return;
            }
        }
        const std::size_t slot = k % blocks_.size();
        const std::size_t got = fill_(blocks_[slot].data(), blocks_[slot].size(), failure);
        sizes_[slot] = got;
        index_line_ends(slot);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            filled_ = k + 1;
            ended_ = got == 0;
            failure_ = std::move(failure);
        }
        changed_.notify_all();
        if (got == 0) {
            return;
        }
    }
}

void ReadAhead::index_line_ends(std::size_t slot) {
    const std::string_view bytes(blocks_[slot].data(), sizes_[slot]);
    std::vector<std::uint32_t>& ends = line_ends_[slot];
    const std::size_t most = blocks_[slot].size() / kBytesPerLineEnd;
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
    indexed_[slot] = at;
}

ReadAhead::Block ReadAhead::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_ && taken_ == filled_) {
        return {{}, nullptr, 0, 0};
    }
    // Taking the next block gives the one before back to the thread.
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    lock.lock();
    changed_.wait(lock, [&] { return filled_ >= taken_; });
    const std::size_t slot = (taken_ - 1) % blocks_.size();
    return {{blocks_[slot].data(), sizes_[slot]},
            line_ends_[slot].data(),
            line_ends_[slot].size(),
            indexed_[slot]};
}
