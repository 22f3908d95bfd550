#pragma once
// The character kernels for x86-64 processors with AVX2 and BMI2, inline:
// utf8_x86.cpp makes the kernels of them that utf8_kernels.h lists, and a
// job's hot loop compiled for these instructions (FWPREP_X86_WIDE_LOOP, cpu.h)
// inlines them instead of calling through the kernel table. Everything here
// is compiled for those instructions alone, in a region of its own, and runs
// only where the processor has them (cpu.cpp): the rest of the program stays
// baseline x86-64. It has internal linkage, so that no copy of it can stand in
// for baseline code of the same name.
//
// The walk goes over the text 64 bytes at a time. A chunk's characters are its
// bytes that are not continuation bytes, once the chunk is known to hold valid
// UTF-8 only. Anything else (an invalid byte, a sequence cut short, an
// overlong form) is a fault, found at the byte where the sequence goes wrong;
// a walk that meets one before its answer leaves the text to the portable
// kernel, which counts such bytes one by one.

#include "cpu.h"

#if defined(FWPREP_X86_WIDE_LOOPS)

#include <bit>
#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "line_scan.h"
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
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt,pclmul"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt,pclmul")
#endif

namespace {

// Masks of the 64 bytes at q (bit i: byte q[i]).
struct Masks {
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

// The low `n` bits (all 64 from n = 64 on), without a branch: whether a line
// is longer than a chunk is a guess on most text.
[[gnu::always_inline]] inline std::uint64_t lowBits(std::size_t n)
{
    return _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n < 64 ? n : 64));
}

// What a chunk leaves to the next one.
struct Carry {
    std::uint64_t expect = 0; // bits 0..2: continuation bytes still owed
    std::uint64_t limits = 0; // bits 0..3: the chunk ended on E0, ED, F0, F4
};

struct ChunkChars {
    std::uint64_t starts; // bit i: byte i begins a character
    std::uint64_t faults; // bit i: the bytes up to i are not valid UTF-8
};

// The part of classify() for the rare chunks that hold a lead byte of three or
// four bytes, a byte that is never UTF-8, or follow such a chunk. Out of line,
// so that the common case keeps its values in registers.
[[gnu::noinline]] inline void classifyRare(const char* q, std::uint64_t keep, std::uint64_t& expect,
    std::uint64_t& faults, Carry& carry)
{
    const RareClasses r = Masks::rare(q);
    const std::uint64_t long3 = r.fromE0 & keep, long4 = r.fromF0 & keep;
    expect |= (long3 << 2) | (long4 << 3);
    faults |= (r.c0c1 | r.fromF5) & keep;
    const std::uint64_t e0 = r.isE0 & keep, ed = r.isED & keep, f0 = r.isF0 & keep, f4 = r.isF4 & keep;
    faults |= ((e0 << 1) | (carry.limits & 1)) & r.belowA0;        // overlong
    faults |= ((ed << 1) | (carry.limits >> 1 & 1)) & ~r.belowA0; // surrogate
    faults |= ((f0 << 1) | (carry.limits >> 2 & 1)) & r.below90;   // overlong
    faults |= ((f4 << 1) | (carry.limits >> 3 & 1)) & ~r.below90;  // above U+10FFFF
    carry.expect |= (long3 >> 62) | (long4 >> 61);
    carry.limits = (e0 >> 63) | (ed >> 63) << 1 | (f0 >> 63) << 2 | (f4 >> 63) << 3;
}

// Classifies the first `valid` (1..64) bytes at q; the rest are not looked at.
[[gnu::always_inline]] inline ChunkChars classify(const char* q, std::size_t valid, Carry& carry)
{
    const std::uint64_t keep = lowBits(valid);
    const ByteClasses b = Masks::classes(q);
    const std::uint64_t cont = b.cont & keep;
    const std::uint64_t lead = b.high & ~b.cont & keep;
    std::uint64_t expect = (lead << 1) | carry.expect;
    std::uint64_t faults = 0;
    const std::uint64_t limits = carry.limits;
    carry.expect = lead >> 63;
    if (((b.unusual & keep) | limits) != 0)
        classifyRare(q, keep, expect, faults, carry);
    else
        carry.limits = 0;
    // A continuation byte where none is owed, or none where one is: also
    // where the text ends inside a sequence (bits at `valid` and beyond).
    return {keep & ~cont, faults | (expect ^ cont)};
}

// The continuation bytes of the 64 at q that `keep` marks, and whether each
// follows a two-byte lead (C2..DF) and each such lead but the last byte kept
// is followed by one: then every byte that is not a continuation byte begins
// a character (see classifyFirst()). utf8::secondBytes64() in 32-byte vectors.
[[gnu::always_inline]] inline bool secondBytes(const char* q, std::uint64_t keep, std::uint64_t& second)
{
    const TwoByteClasses b = Masks::twoByte(q);
    second = b.cont & keep;
    return (((b.lead2 << 1) ^ b.cont) & keep) == 0;
}

// classify() for the first chunk of a walk, in the common case only: false
// when the chunk holds anything but ASCII and two-byte sequences, so that the
// caller can leave it all to the full walk without calling anything itself.
// A byte that is neither a continuation byte nor a two-byte lead (C2..DF) and
// is followed by no continuation byte is one character whatever it is, valid
// or not; so is a two-byte lead on the last byte of the text. Only
// continuation bytes need checking: each must follow a two-byte lead.
[[gnu::always_inline]] inline bool classifyFirst(const char* q, std::size_t valid, std::uint64_t& starts)
{
    const std::uint64_t keep = lowBits(valid);
    std::uint64_t second;
    const bool plain = secondBytes(q, keep, second);
    starts = keep & ~second;
    return plain;
}

// The n-th (from 0) set bit of m, alone; n < popcount(m).
template <bool Deposit>
[[gnu::always_inline]] inline std::uint64_t nthBit(std::uint64_t m, std::size_t n)
{
    if constexpr (Deposit) {
        return _pdep_u64(std::uint64_t{1} << n, m);
    } else {
        for (; n > 0; --n)
            m &= m - 1;
        return m & (0 - m);
    }
}

// The bits of m up to and including the one bit of `bit`.
inline std::uint64_t upTo(std::uint64_t bit)
{
    return bit | (bit - 1);
}

// advance() over text of more than one chunk, or with faults.
template <bool Deposit>
[[gnu::noinline]] const char* advanceLong(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    std::size_t left = maxChars;
    Carry carry;
    for (const char* q = p;; q += 64) {
        const auto avail = static_cast<std::size_t>(end - q);
        if (avail == 0) {
            if (carry.expect != 0)
                break; // a sequence cut by the end
            taken += maxChars - left;
            return end;
        }
        const std::size_t valid = avail < 64 ? avail : 64;
        const ChunkChars c = classify(q, valid, carry);
        const auto n = static_cast<std::size_t>(std::popcount(c.starts));
        if (n > left) {
            const std::uint64_t bit = nthBit<Deposit>(c.starts, left);
            if ((c.faults & upTo(bit)) != 0)
                break;
            taken += maxChars;
            return q + std::countr_zero(bit);
        }
        if (c.faults != 0 || (valid < 64 && carry.expect != 0))
            break;
        left -= n;
        if (valid < 64) {
            taken += maxChars - left;
            return end;
        }
    }
    return portable::kernels.advance(p, end, maxChars, taken);
}

template <bool Deposit>
const char* advanceWith(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    const auto avail = static_cast<std::size_t>(end - p);
    if (maxChars == 0 || avail == 0)
        return p;
    // The common case: the answer lies in the first chunk, which has no faults.
    std::uint64_t starts;
    if (classifyFirst(p, avail < 64 ? avail : 64, starts)) {
        const auto n = static_cast<std::size_t>(std::popcount(starts));
        if (n > maxChars) {
            taken += maxChars;
            return p + std::countr_zero(nthBit<Deposit>(starts, maxChars));
        }
        if (avail <= 64) {
            taken += n;
            return end;
        }
    }
    return advanceLong<Deposit>(p, end, maxChars, taken);
}

// pieceEnds() over text of more than one chunk, or with faults.
template <bool Deposit>
[[gnu::noinline]] std::size_t pieceEndsLong(const char* p, const char* end, std::size_t width, std::size_t maxPieces,
    const char** ends)
{
    std::size_t found = 0;
    std::size_t target = width; // the character that begins the next piece, counted from p
    std::size_t before = 0;     // characters in the chunks passed
    Carry carry;
    for (const char* q = p;; q += 64) {
        const auto avail = static_cast<std::size_t>(end - q);
        if (avail == 0) {
            if (carry.expect != 0)
                break;
            ends[found++] = end;
            return found;
        }
        const std::size_t valid = avail < 64 ? avail : 64;
        const ChunkChars c = classify(q, valid, carry);
        const auto n = static_cast<std::size_t>(std::popcount(c.starts));
        for (; target - before < n; target += width) {
            const std::uint64_t bit = nthBit<Deposit>(c.starts, target - before);
            if ((c.faults & upTo(bit)) != 0)
                return portable::kernels.pieceEnds(p, end, width, maxPieces, ends);
            ends[found++] = q + std::countr_zero(bit);
            if (found == maxPieces)
                return found;
        }
        if (c.faults != 0 || (valid < 64 && carry.expect != 0))
            break;
        before += n;
        if (valid < 64) {
            ends[found++] = end;
            return found;
        }
    }
    return portable::kernels.pieceEnds(p, end, width, maxPieces, ends);
}

template <bool Deposit>
std::size_t pieceEndsWith(const char* p, const char* end, std::size_t width, std::size_t maxPieces, const char** ends)
{
    const auto avail = static_cast<std::size_t>(end - p);
    if (avail > 0) {
        // The common case: the pieces end in the first chunk, which has no faults.
        std::uint64_t starts;
        if (classifyFirst(p, avail < 64 ? avail : 64, starts)) {
            const auto n = static_cast<std::size_t>(std::popcount(starts));
            std::size_t found = 0;
            for (std::size_t target = width; target < n && found < maxPieces; target += width)
                ends[found++] = p + std::countr_zero(nthBit<Deposit>(starts, target));
            if (found == maxPieces)
                return found;
            if (avail <= 64) {
                ends[found++] = end;
                return found;
            }
        }
    }
    return pieceEndsLong<Deposit>(p, end, width, maxPieces, ends);
}

// How a job's hot loop asks for character positions when it is compiled for
// these instructions: the kernels' code inlined.
struct InlineKernels {
    // Compiled for AVX2: the loop may also scan for lines with it.
    static constexpr bool kWide = true;
    // utf8::secondBytes64() and equalBits64() in 32-byte vectors.
    static bool secondBytes64(const char* p, std::uint64_t keep, std::uint64_t& second)
    {
        return secondBytes(p, keep, second);
    }
    static std::uint64_t equal64(const char* p, char c)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        return Masks::equal(lo, hi, c);
    }
    template <bool High>
    using CsvScan = CsvChunkScanWide<High>;
    static FieldMasks fieldMasks64(const char* p, char delimiter, char fill)
    {
        return fieldMasksWide(p, delimiter, fill);
    }
    static std::uint64_t prefixXor64(std::uint64_t x) { return prefixXorWide(x); }
    // 32 bytes in one move (a memcpy() of 32 is two, by the compiler's
    // choice for processors of every kind).
    static void move32(char* dst, const char* src)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)));
    }
    // Where pieces end whose i-th (from 1) ends after charsTo(i) characters,
    // charsTo(count) < 64: see shortPieceEnds().
    template <class CharsTo>
    [[gnu::always_inline]] static bool endsWithin64(
        const char* p, std::size_t size, std::size_t count, CharsTo charsTo, const char** ends)
    {
        std::uint64_t starts;
        if (!classifyFirst(p, size, starts))
            return false;
        const auto n = static_cast<std::size_t>(std::popcount(starts));
        if (charsTo(count) >= n && size > 64)
            return false;
        const std::size_t last = size < 64 ? size : 64;
        for (std::size_t i = 1; i <= count; ++i) {
            // No start bit for the character: the text ends before it.
            const auto at = static_cast<std::size_t>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << charsTo(i), starts)));
            ends[i - 1] = p + (at < last ? at : last);
        }
        return true;
    }
    // advance() over at most 16 characters, when the 32 bytes from p on are
    // readable (`size` of them are the text), with few branches to guess:
    // where the characters end, or null when those 32 bytes do not settle it
    // (they hold other than ASCII and two-byte sequences, or the characters
    // go on past them). Checked as classifyFirst() checks, on half its
    // bytes: classifyFirst() itself cost a Turkish join 7 % more instructions.
    static const char* shortPrefix(const char* p, std::size_t size, std::size_t maxChars, std::size_t& taken)
    {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const auto cont = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(kC0), v)));
        const auto lead2 = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(
            _mm256_cmpgt_epi8(v, _mm256_set1_epi8(static_cast<char>(0xC2 - 1))), _mm256_cmpgt_epi8(_mm256_set1_epi8(kE0), v))));
        const std::uint32_t keep = _bzhi_u32(~std::uint32_t{0}, static_cast<std::uint32_t>(size < 32 ? size : 32));
        if ((((lead2 << 1) ^ cont) & keep) != 0)
            return nullptr;
        const std::uint32_t starts = keep & ~cont;
        const auto n = static_cast<std::size_t>(std::popcount(starts));
        if (n > maxChars) {
            taken += maxChars;
            return p + std::countr_zero(_pdep_u32(std::uint32_t{1} << maxChars, starts));
        }
        if (size > 32)
            return nullptr;
        taken += n;
        return p + size;
    }
    // pieceEnds() for `count` pieces of `width` characters, count * width
    // < 64 (a job asks only where they fit its lines' first 64 bytes), when
    // the 64 bytes from p on are readable (`size` of them are the text), with
    // few branches to guess: writes all `count` ends (those past the text's
    // end at its end) and returns true, or returns false when the first 64
    // bytes do not settle them (other than ASCII and two-byte sequences, or
    // the pieces go on past them).
    static bool shortPieceEnds(const char* p, std::size_t size, std::size_t width, std::size_t count,
        const char** ends)
    {
        return endsWithin64(p, size, count, [width](std::size_t i) { return i * width; }, ends);
    }
    // The same for pieces of a layout: piece i ends after totals[i]
    // characters, totals[count - 1] < 64.
    static bool layoutPieceEnds(const char* p, std::size_t size, const std::uint8_t* totals, std::size_t count,
        const char** ends)
    {
        return endsWithin64(p, size, count, [totals](std::size_t i) { return std::size_t{totals[i - 1]}; }, ends);
    }
    static const char* advance(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
    {
        return advanceWith<true>(p, end, maxChars, taken);
    }
    static std::size_t pieceEnds(const char* p, const char* end, std::size_t width, std::size_t maxPieces,
        const char** ends)
    {
        return pieceEndsWith<true>(p, end, width, maxPieces, ends);
    }
};

} // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// True when this process uses the kernels that wide loops inline (the
// processor has them, with a fast PDEP, and FWPREP_SIMD does not hold them
// down): the job then runs its loop compiled for them.
inline bool useWideLoops()
{
    return &kernels() == &avx2;
}

} // namespace fwprep::utf8::x86

#endif // FWPREP_X86_WIDE_LOOPS
