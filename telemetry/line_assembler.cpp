#include "telemetry/line_assembler.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

std::size_t find_line_end_or_nul(std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    // 32 bytes a step: a row is some 470 bytes, and the test for "either byte
    // in this step" is one branch.
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    const auto hits = [&](std::size_t at) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        return _mm_or_si128(_mm_cmpeq_epi8(block, newline), _mm_cmpeq_epi8(block, zero));
    };
    for (; i + 32 <= bytes.size(); i += 32) {
        const unsigned low = static_cast<unsigned>(_mm_movemask_epi8(hits(i)));
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(hits(i + 16)));
        if ((low | high) != 0) {
            const unsigned mask = low | (high << 16);
            return i + static_cast<unsigned>(__builtin_ctz(mask));
        }
    }
#endif
    for (; i < bytes.size(); ++i) {
        if (data[i] == '\n' || data[i] == '\0') {
            return i;
        }
    }
    return std::string_view::npos;
}
