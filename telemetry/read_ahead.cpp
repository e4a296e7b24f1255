#include "telemetry/read_ahead.h"

ReadAhead::ReadAhead(Fill fill, std::size_t block_size, int blocks)
    : fill_(std::move(fill)),
      blocks_(static_cast<std::size_t>(blocks), std::vector<char>(block_size)),
      sizes_(static_cast<std::size_t>(blocks)), thread_([this] { fill_blocks(); }) {}

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
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            sizes_[slot] = got;
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

std::string_view ReadAhead::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_ && taken_ == filled_) {
        return {};
    }
    // Taking the next block gives the one before back to the thread.
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    lock.lock();
    changed_.wait(lock, [&] { return filled_ >= taken_; });
    const std::size_t slot = (taken_ - 1) % blocks_.size();
    return {blocks_[slot].data(), sizes_[slot]};
}
