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
    std::uint64_t ends;     // the delimiter or LF
    std::uint64_t lineEnds; // LF
    std::uint64_t odd;      // CR, and with `High` any byte above 0x7F: the parser turns these down
};

// Looks at a chunk of 64 bytes (all must be readable) for a loop over many
// chunks of one delimiter.
template <bool High>
class CsvChunkScan {
public:
    explicit CsvChunkScan(char delimiter)
        : m_delimiter(delimiter)
    {
    }
    CsvChunkMasks operator()(const char* p) const
    {
        CsvChunkMasks m{0, 0, 0, 0};
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i delim = _mm_set1_epi8(m_delimiter);
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const auto bits = [&](__m128i x) {
                return std::uint64_t(static_cast<std::uint16_t>(_mm_movemask_epi8(x))) << (16 * i);
            };
            const __m128i lines = _mm_cmpeq_epi8(v, lf);
            const __m128i returns = _mm_cmpeq_epi8(v, cr);
            m.quotes |= bits(_mm_cmpeq_epi8(v, quote));
            m.ends |= bits(_mm_or_si128(_mm_cmpeq_epi8(v, delim), lines));
            m.lineEnds |= bits(lines);
            m.odd |= bits(High ? _mm_or_si128(returns, v) : returns);
        }
#else
        for (unsigned i = 0; i < 64; ++i) {
            const char c = p[i];
            m.quotes |= std::uint64_t(c == '"') << i;
            m.ends |= std::uint64_t(c == m_delimiter || c == '\n') << i;
            m.lineEnds |= std::uint64_t(c == '\n') << i;
            m.odd |= std::uint64_t(c == '\r' || (High && static_cast<unsigned char>(c) >= 0x80)) << i;
        }
#endif
        return m;
    }

private:
    char m_delimiter;
};

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

// CsvChunkScan with 32-byte vectors, for a loop compiled for AVX2. The bytes
// compared with are made once: in the loop they are operands in memory at
// worst. (GCC makes a vector of a constant byte anew where it is used, three
// instructions, whenever its registers run short, as they do in the CSV
// parser's loop; held as values it cannot see through, they stay made.)
template <bool High>
class CsvChunkScanWide {
public:
    [[gnu::target("avx2")]] explicit CsvChunkScanWide(char delimiter)
        : m_quote(opaque(_mm256_set1_epi8('"')))
        , m_delimiter(_mm256_set1_epi8(delimiter))
        , m_lf(opaque(_mm256_set1_epi8('\n')))
        , m_cr(opaque(_mm256_set1_epi8('\r')))
    {
    }
    [[gnu::target("avx2")]] CsvChunkMasks operator()(const char* p) const
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const __m256i linesLo = _mm256_cmpeq_epi8(lo, m_lf);
        const __m256i linesHi = _mm256_cmpeq_epi8(hi, m_lf);
        const __m256i returnsLo = _mm256_cmpeq_epi8(lo, m_cr);
        const __m256i returnsHi = _mm256_cmpeq_epi8(hi, m_cr);
        return {highBits64(_mm256_cmpeq_epi8(lo, m_quote), _mm256_cmpeq_epi8(hi, m_quote)),
            highBits64(_mm256_or_si256(_mm256_cmpeq_epi8(lo, m_delimiter), linesLo),
                _mm256_or_si256(_mm256_cmpeq_epi8(hi, m_delimiter), linesHi)),
            highBits64(linesLo, linesHi),
            High ? highBits64(_mm256_or_si256(returnsLo, lo), _mm256_or_si256(returnsHi, hi))
                 : highBits64(returnsLo, returnsHi)};
    }

private:
    [[gnu::target("avx2")]] static __m256i opaque(__m256i v)
    {
        asm("" : "+x"(v));
        return v;
    }
    __m256i m_quote, m_delimiter, m_lf, m_cr;
};
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
