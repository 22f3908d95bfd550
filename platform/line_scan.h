#pragma once
// Finds line ends and non-ASCII bytes 64 bytes at a time.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fwprep {

struct ChunkMasks {
    std::uint64_t lineEnds; // bit i: byte i is LF
    std::uint64_t high;     // bit i: byte i is above 0x7F
};

// Looks at the 64 bytes from p on (all must be readable).
inline ChunkMasks scanChunk(const char* p)
{
    ChunkMasks m{0, 0};
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i v[4];
    for (int i = 0; i < 4; ++i) {
        v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto shift = static_cast<unsigned>(16 * i);
        m.lineEnds |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v[i], lf)))) << shift;
    }
    // Most text is ASCII throughout: one test tells, the positions of
    // non-ASCII bytes are worked out only when there are some.
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3]))) != 0) {
        for (int i = 0; i < 4; ++i)
            m.high |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(v[i]))) << (16 * i);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        m.lineEnds |= std::uint64_t(b == '\n') << i;
        m.high |= std::uint64_t(b >= 0x80) << i;
    }
#endif
    return m;
}

} // namespace fwprep
