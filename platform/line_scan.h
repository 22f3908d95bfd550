#pragma once
// Finds line ends, non-ASCII bytes and other bytes of interest many at a time.

#include <cstddef>
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

// Bit i set: byte i of the 32 bytes from p on (all must be readable) is one
// of `a`, `b`, `c`, `d`.
inline std::uint32_t matchBytes32(const char* p, char a, char b, char c, char d)
{
#if defined(__SSE2__)
    std::uint32_t m = 0;
    for (int i = 0; i < 2; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(a)), _mm_cmpeq_epi8(v, _mm_set1_epi8(b))),
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)), _mm_cmpeq_epi8(v, _mm_set1_epi8(d))));
        m |= static_cast<std::uint32_t>(_mm_movemask_epi8(hit)) << (16 * i);
    }
    return m;
#else
    std::uint32_t m = 0;
    for (unsigned i = 0; i < 32; ++i)
        m |= std::uint32_t(p[i] == a || p[i] == b || p[i] == c || p[i] == d) << i;
    return m;
#endif
}

inline std::uint32_t matchBytes32(const char* p, char a)
{
    return matchBytes32(p, a, a, a, a);
}

// The low `n` bits (n <= 32).
constexpr std::uint32_t lowBits32(std::size_t n)
{
    return n >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << n) - 1;
}

} // namespace fwprep
