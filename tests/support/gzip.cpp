#include "tests/support/gzip.h"

#include <zlib.h>

namespace h2test {

std::string gzip(const std::string& text) {
    std::string out(compressBound(static_cast<uLong>(text.size())) + 64, '\0');
    z_stream stream{};
    // 15 + 16: the largest window, with gzip's header and trailer.
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace h2test
