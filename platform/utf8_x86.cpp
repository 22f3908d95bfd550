// The character kernels for x86-64 processors with AVX2 or AVX-512. Each
// instruction set's code is compiled for that set alone, in a region of its
// own, and runs only where the processor has it (cpu.cpp): the rest of the
// program stays baseline x86-64.

#if defined(__x86_64__)

#include <bit>
#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "utf8_kernels.h"

namespace fwprep::utf8::x86 {

namespace {

struct ByteClasses {
    std::uint64_t high;    // 80..FF
    std::uint64_t cont;    // 80..BF: continuation bytes
    std::uint64_t unusual; // C0, C1 and E0..FF: anything but two-byte sequences
};

struct TwoByteClasses {
    std::uint64_t cont;  // 80..BF
    std::uint64_t lead2; // C2..DF: leads of two-byte sequences
};

struct RareClasses {
    std::uint64_t c0c1, fromE0, fromF0, fromF5;
    std::uint64_t isE0, isED, isF0, isF4;
    std::uint64_t belowA0; // 80..9F
    std::uint64_t below90; // 80..8F
};

// Byte limits as signed chars, as the compares take them: 80..FF are -128..-1.
constexpr char kC0 = -64, kE0 = -32, kF0 = -16, kF5 = -11, kA0 = -96, k90 = -112;

} // namespace

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt")
#endif

namespace avx2_code {

struct Isa {
    static std::uint64_t bits(__m256i lo, __m256i hi)
    {
        return std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)))
            | std::uint64_t(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
    }
    // Bytes below `limit` (both taken as signed) and above it.
    static std::uint64_t below(__m256i lo, __m256i hi, char limit)
    {
        const __m256i l = _mm256_set1_epi8(limit);
        return bits(_mm256_cmpgt_epi8(l, lo), _mm256_cmpgt_epi8(l, hi));
    }
    static std::uint64_t from(__m256i lo, __m256i hi, char limit)
    {
        const __m256i l = _mm256_set1_epi8(static_cast<char>(limit - 1));
        return bits(_mm256_cmpgt_epi8(lo, l), _mm256_cmpgt_epi8(hi, l));
    }
    static std::uint64_t equal(__m256i lo, __m256i hi, char value)
    {
        const __m256i v = _mm256_set1_epi8(value);
        return bits(_mm256_cmpeq_epi8(lo, v), _mm256_cmpeq_epi8(hi, v));
    }
    static ByteClasses classes(const char* q)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 32));
        // E0..FF: at least E0 as signed bytes, and negative; C0, C1: C0 once the last bit is cleared.
        const __m256i e0 = _mm256_set1_epi8(static_cast<char>(kE0 - 1)), c0 = _mm256_set1_epi8(kC0);
        const __m256i fe = _mm256_set1_epi8(static_cast<char>(0xFE));
        const auto unusual = [&](__m256i v) {
            return _mm256_or_si256(_mm256_and_si256(_mm256_cmpgt_epi8(v, e0), v),
                _mm256_cmpeq_epi8(_mm256_and_si256(v, fe), c0));
        };
        return {bits(lo, hi), below(lo, hi, kC0), bits(unusual(lo), unusual(hi))};
    }
    static TwoByteClasses twoByte(const char* q)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 32));
        const __m256i c2 = _mm256_set1_epi8(static_cast<char>(0xC2 - 1)), e0 = _mm256_set1_epi8(kE0);
        const auto lead2 = [&](__m256i v) { return _mm256_and_si256(_mm256_cmpgt_epi8(v, c2), _mm256_cmpgt_epi8(e0, v)); };
        return {below(lo, hi, kC0), bits(lead2(lo), lead2(hi))};
    }
    static RareClasses rare(const char* q)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 32));
        const std::uint64_t high = bits(lo, hi);
        return {below(lo, hi, static_cast<char>(0xC2)) & ~below(lo, hi, kC0), from(lo, hi, kE0) & high,
            from(lo, hi, kF0) & high, from(lo, hi, kF5) & high, equal(lo, hi, kE0),
            equal(lo, hi, static_cast<char>(0xED)), equal(lo, hi, kF0), equal(lo, hi, static_cast<char>(0xF4)),
            below(lo, hi, kA0), below(lo, hi, k90)};
    }
};

#include "utf8_walk.inc"

const char* advance(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    return advanceWith<true>(p, end, maxChars, taken);
}
std::size_t pieceEnds(const char* p, const char* end, std::size_t width, std::size_t maxPieces, const char** ends)
{
    return pieceEndsWith<true>(p, end, width, maxPieces, ends);
}
const char* advanceNoDeposit(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    return advanceWith<false>(p, end, maxChars, taken);
}
std::size_t pieceEndsNoDeposit(const char* p, const char* end, std::size_t width, std::size_t maxPieces,
    const char** ends)
{
    return pieceEndsWith<false>(p, end, width, maxPieces, ends);
}

} // namespace avx2_code

#if defined(__clang__)
#pragma clang attribute pop
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2,popcnt")
#endif

namespace avx512_code {

struct Isa {
    static ByteClasses classes(const char* q)
    {
        const __m512i v = _mm512_loadu_si512(q);
        const __m512i fe = _mm512_set1_epi8(static_cast<char>(0xFE));
        return {_mm512_movepi8_mask(v), _mm512_cmplt_epi8_mask(v, _mm512_set1_epi8(kC0)),
            _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(kE0))
                | _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, fe), _mm512_set1_epi8(kC0))};
    }
    static TwoByteClasses twoByte(const char* q)
    {
        const __m512i v = _mm512_loadu_si512(q);
        return {_mm512_cmplt_epi8_mask(v, _mm512_set1_epi8(kC0)),
            _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(static_cast<char>(0xC2)))
                & _mm512_cmplt_epu8_mask(v, _mm512_set1_epi8(kE0))};
    }
    static RareClasses rare(const char* q)
    {
        const __m512i v = _mm512_loadu_si512(q);
        const auto equal = [&](char c) { return std::uint64_t(_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c))); };
        const __m512i fe = _mm512_set1_epi8(static_cast<char>(0xFE));
        return {_mm512_cmpeq_epi8_mask(_mm512_and_si512(v, fe), _mm512_set1_epi8(kC0)),
            _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(kE0)), _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(kF0)),
            _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(kF5)),
            equal(kE0), equal(static_cast<char>(0xED)), equal(kF0), equal(static_cast<char>(0xF4)),
            _mm512_cmplt_epi8_mask(v, _mm512_set1_epi8(kA0)), _mm512_cmplt_epi8_mask(v, _mm512_set1_epi8(k90))};
    }
};

#include "utf8_walk.inc"

const char* advance(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    return advanceWith<true>(p, end, maxChars, taken);
}
std::size_t pieceEnds(const char* p, const char* end, std::size_t width, std::size_t maxPieces, const char** ends)
{
    return pieceEndsWith<true>(p, end, width, maxPieces, ends);
}

} // namespace avx512_code

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const Kernels avx2{"avx2", cpu::SimdLevel::Avx2, avx2_code::advance, avx2_code::pieceEnds};
const Kernels avx2NoDeposit{"avx2-no-pdep", cpu::SimdLevel::Avx2, avx2_code::advanceNoDeposit,
    avx2_code::pieceEndsNoDeposit};
const Kernels avx512{"avx512", cpu::SimdLevel::Avx512, avx512_code::advance, avx512_code::pieceEnds};

} // namespace fwprep::utf8::x86

#endif // __x86_64__
