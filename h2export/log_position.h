// A place in a maser's log that h2export saves and a restarted h2export goes
// on from.
#pragma once

#include "h2export/log_file.h"
#include "telemetry/line_assembler.h"

#include <cstdint>
#include <string_view>

// The file, and the byte after the last whole line read. The file is told
// apart by its first bytes (up to kPrintBytes, no more than were read), since
// a file number is reused once a file is deleted, and a copied, truncated or
// compressed log keeps none of its own. `inside` says whether that byte is
// inside an overlong line or a hole already reported, which the next reading
// skips without reporting again.
//
// `after_ns` places the position in time: every record stamped later was not
// read yet (the time of the last record read; before any, a time before the
// log's first record). It finds the rows written after a position at the
// start of an empty file and rotated away before they were read, which its
// first bytes cannot.
struct LogPosition {
    FileId id;
    std::int64_t offset = 0;
    std::int64_t print_bytes = 0; // 0: not known; the file is known by its id alone
    std::uint64_t print = 0;      // content_print() of the file's first print_bytes bytes
    LineAssembler::Inside inside = LineAssembler::Inside::kLine;
    std::int64_t after_ns = kTimeUnknown;

    static constexpr std::int64_t kPrintBytes = 4096;
    static constexpr std::int64_t kTimeUnknown = -1; // a position saved by an older h2export
};

// FNV-1a of `bytes`: what tells one log's content from another's.
inline std::uint64_t content_print(std::string_view bytes) {
    std::uint64_t print = 14695981039346656037ULL;
    for (char c : bytes) {
        print = (print ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return print;
}
