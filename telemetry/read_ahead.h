// Reading a file ahead of its reader: a thread fills the next blocks while
// the reader works through the current one, so that copying the file out of
// the page cache (or inflating it) overlaps what the reader does with it. A
// year of logs is gigabytes; the copy alone is a fifth of the time to plot it.
// The thread also finds where the block's lines end (its "\n" and NUL bytes),
// the one other pass over every byte.
//
// Only for inputs whose reads end by themselves (files, not pipes): the
// thread is joined when the ReadAhead goes, and a read from a pipe can wait
// forever.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class ReadAhead {
public:
    // Puts up to `size` bytes of the input at `into` and returns how many; 0
    // at its end, or on failure with the reason in `failure`. Called on the
    // thread only, one block after another.
    using Fill = std::function<std::size_t(char* into, std::size_t size, std::string& failure)>;

    // Starts the thread, which keeps up to `blocks` blocks of `block_size` filled.
    ReadAhead(Fill fill, std::size_t block_size, int blocks);
    // Stops the thread after the read it is in, and waits for it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    struct Block {
        std::string_view bytes; // empty at the end of the input
        // The offsets of the "\n" and NUL bytes in bytes[0, indexed), in order.
        const std::uint32_t* line_ends;
        std::size_t line_end_count;
        std::size_t indexed; // all of the block, unless it has very many lines
    };

    // The next block of the input, once the thread has filled it. It stays
    // valid until the next call, which gives it back.
    Block next();

    // Why the input ended, when it failed: empty after a clean end. Valid once
    // next() has returned an empty block.
    const std::string& failure() const { return failure_; }

private:
    void fill_blocks();
    // How many blocks from block k on the thread may fill now.
    std::size_t free_blocks(std::size_t k) const;

    // One block of the ring, with what the thread found in it.
    struct Slot {
        std::vector<char> bytes;
        std::size_t size = 0; // bytes filled
        std::vector<std::uint32_t> line_ends;
        std::size_t indexed = 0;
    };
    static void index_line_ends(Slot& slot);

    Fill fill_;
    std::vector<Slot> slots_;
    std::size_t refill_; // free blocks the thread waits for once all are full
    std::mutex mutex_;
    std::condition_variable room_;       // the thread waits here for free blocks
    std::condition_variable filled_one_; // and next() for a filled one
    // Slots are used in turn: slot k % slots_.size() holds the k-th block of the input.
    std::size_t filled_ = 0; // blocks the thread has filled
    std::size_t taken_ = 0;  // blocks next() has returned; the last is in use
    bool ended_ = false;     // the thread filled its last block (or failed)
    bool stop_ = false;
    bool filler_waiting_ = false;
    bool reader_waiting_ = false;
    std::string failure_;
    std::thread thread_;
};
