#pragma once
// Finds line ends, non-ASCII bytes and other bytes of interest many at a time.

#include <cstddef>
#include <cstdint>

#include "cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(FWPREP_X86_WIDE_LOOPS)
#include <immintrin.h>
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

#if defined(FWPREP_X86_WIDE_LOOPS)
// The top bits of the 64 bytes of lo and hi, as a mask (bit i: byte i).
[[gnu::target("avx2")]] inline std::uint64_t highBits64(__m256i lo, __m256i hi)
{
    return std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)))
        | std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
}
// Which of the 64 bytes of lo and hi are `c`, as a mask.
[[gnu::target("avx2")]] inline std::uint64_t equalBits64(__m256i lo, __m256i hi, char c)
{
    const __m256i v = _mm256_set1_epi8(c);
    return highBits64(_mm256_cmpeq_epi8(lo, v), _mm256_cmpeq_epi8(hi, v));
}
// scanChunk() with 32-byte vectors, for the line reader in a loop compiled for
// AVX2. Not always_inline: a baseline caller's copy keeps it a call, and the
// wide loop (flatten) takes it inline.
[[gnu::target("avx2")]] inline ChunkMasks scanChunkWide(const char* p)
{
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    ChunkMasks m{equalBits64(lo, hi, '\n'), 0};
    if (!_mm256_testz_si256(_mm256_or_si256(lo, hi), _mm256_set1_epi8(static_cast<char>(0x80))))
        m.high = highBits64(lo, hi);
    return m;
}
#endif

// Which of the 64 bytes from p on (all must be readable) are `c`: bit i set
// for byte i.
inline std::uint64_t equalBits64(const char* p, char c)
{
    std::uint64_t m = 0;
#if defined(__SSE2__)
    const __m128i v = _mm_set1_epi8(c);
    for (int i = 0; i < 4; ++i) {
        const __m128i hit = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), v);
        m |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hit))} << (16 * i);
    }
#else
    for (unsigned b = 0; b < 64; ++b)
        m |= std::uint64_t{p[b] == c} << b;
#endif
    return m;
}

// The bytes of a 64-byte chunk of CSV that a parser of whole blocks looks at:
// bit i for byte i.
struct CsvChunkMasks {
    std::uint64_t quotes;
    std::uint64_t delimiters;
    std::uint64_t lineEnds;
    std::uint64_t returns; // CR
    std::uint64_t high;    // above 0x7F
};

// Looks at the 64 bytes from p on (all must be readable).
inline CsvChunkMasks csvChunk(const char* p, char delimiter)
{
    CsvChunkMasks m{0, 0, 0, 0, 0};
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i delim = _mm_set1_epi8(delimiter);
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto bits = [&](__m128i x) {
            return std::uint64_t(static_cast<std::uint16_t>(_mm_movemask_epi8(x))) << (16 * i);
        };
        m.quotes |= bits(_mm_cmpeq_epi8(v, quote));
        m.delimiters |= bits(_mm_cmpeq_epi8(v, delim));
        m.lineEnds |= bits(_mm_cmpeq_epi8(v, lf));
        m.returns |= bits(_mm_cmpeq_epi8(v, cr));
        m.high |= bits(v);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        const char c = p[i];
        m.quotes |= std::uint64_t(c == '"') << i;
        m.delimiters |= std::uint64_t(c == delimiter) << i;
        m.lineEnds |= std::uint64_t(c == '\n') << i;
        m.returns |= std::uint64_t(c == '\r') << i;
        m.high |= std::uint64_t(static_cast<unsigned char>(c) >= 0x80) << i;
    }
#endif
    return m;
}

// The bytes of a line's first 64 that a job writing CSV fields looks at: bit
// i for byte i.
struct FieldMasks {
    std::uint64_t special; // a quote, the delimiter or CR: the field is quoted
    std::uint64_t fill;
    std::uint64_t high; // above 0x7F
};

// Looks at the 64 bytes from p on (all must be readable).
inline FieldMasks fieldMasks(const char* p, char delimiter, char fill)
{
    FieldMasks m{0, 0, 0};
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i delim = _mm_set1_epi8(delimiter);
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i pad = _mm_set1_epi8(fill);
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto bits = [&](__m128i x) {
            return std::uint64_t(static_cast<std::uint16_t>(_mm_movemask_epi8(x))) << (16 * i);
        };
        m.special |= bits(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, delim)), _mm_cmpeq_epi8(v, cr)));
        m.fill |= bits(_mm_cmpeq_epi8(v, pad));
        m.high |= bits(v);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        const char c = p[i];
        m.special |= std::uint64_t(c == '"' || c == delimiter || c == '\r') << i;
        m.fill |= std::uint64_t(c == fill) << i;
        m.high |= std::uint64_t(static_cast<unsigned char>(c) >= 0x80) << i;
    }
#endif
    return m;
}

#if defined(FWPREP_X86_WIDE_LOOPS)
// prefixXor() in one carry-less multiply by all ones, where the shifts and
// XORs are a chain of twelve steps.
[[gnu::target("pclmul")]] inline std::uint64_t prefixXorWide(std::uint64_t x)
{
    const __m128i product = _mm_clmulepi64_si128(
        _mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(static_cast<char>(0xFF)), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

// csvChunk() with 32-byte vectors.
[[gnu::target("avx2")]] inline CsvChunkMasks csvChunkWide(const char* p, char delimiter)
{
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {equalBits64(lo, hi, '"'), equalBits64(lo, hi, delimiter), equalBits64(lo, hi, '\n'),
        equalBits64(lo, hi, '\r'), highBits64(lo, hi)};
}
#endif

#if defined(FWPREP_X86_WIDE_LOOPS)
// Which of the 32 bytes of v are a quote, `delimiter` or CR, as bytes of all
// ones.
[[gnu::target("avx2")]] inline __m256i fieldSpecials(__m256i v, char delimiter)
{
    const __m256i quote = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"'));
    const __m256i delim = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(delimiter));
    return _mm256_or_si256(_mm256_or_si256(quote, delim), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')));
}
// fieldMasks() with 32-byte vectors.
[[gnu::target("avx2")]] inline FieldMasks fieldMasksWide(const char* p, char delimiter, char fill)
{
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {highBits64(fieldSpecials(lo, delimiter), fieldSpecials(hi, delimiter)), equalBits64(lo, hi, fill),
        highBits64(lo, hi)};
}
#endif

// Which of the 32 bytes from p on (all must be readable) are one of a set of
// N bytes: bit i set for byte i. The compares' operands are made once, with
// the set, for loops that look at many pieces.
template <int N>
class ByteSet32 {
public:
    template <class... C>
    explicit ByteSet32(C... bytes)
    {
        static_assert(sizeof...(C) == N);
        const char all[N] = {bytes...};
        for (int i = 0; i < N; ++i) {
#if defined(__SSE2__)
            m_v[i] = _mm_set1_epi8(all[i]);
#else
            m_c[i] = all[i];
#endif
        }
    }

    std::uint32_t match(const char* p) const
    {
        std::uint32_t m = 0;
#if defined(__SSE2__)
        for (int h = 0; h < 2; ++h) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * h));
            __m128i hit = _mm_cmpeq_epi8(v, m_v[0]);
            for (int i = 1; i < N; ++i)
                hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, m_v[i]));
            m |= static_cast<std::uint32_t>(_mm_movemask_epi8(hit)) << (16 * h);
        }
#else
        for (unsigned b = 0; b < 32; ++b) {
            bool hit = false;
            for (int i = 0; i < N; ++i)
                hit = hit || p[b] == m_c[i];
            m |= std::uint32_t(hit) << b;
        }
#endif
        return m;
    }

private:
#if defined(__SSE2__)
    __m128i m_v[N];
#else
    char m_c[N];
#endif
};

// The low `n` bits (all 64 from n = 64 on).
constexpr std::uint64_t lowBits64(std::size_t n)
{
    return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// Each bit set when an odd number of the bits of `x` are set at or below it:
// over a mask of quotes, the bytes from an opening quote up to its closing one.
constexpr std::uint64_t prefixXor(std::uint64_t x)
{
    for (int shift = 1; shift < 64; shift *= 2)
        x ^= x << shift;
    return x;
}

// The low `n` bits (n <= 32).
constexpr std::uint32_t lowBits32(std::size_t n)
{
    return n >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << n) - 1;
}

} // namespace fwprep
