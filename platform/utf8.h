#pragma once
// Character boundaries in UTF-8 text. A character is one valid RFC 3629 sequence
// (no overlong forms, no surrogates, nothing above U+10FFFF); any byte that does
// not start a valid sequence counts as one character by itself.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "utf8_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fwprep::utf8 {

// Length (1..4) of the valid sequence that starts at p, or 0 when the bytes at p
// do not start one. `avail` bytes from p on are readable (at least one).
inline int sequenceLength(const unsigned char* p, std::size_t avail)
{
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    if (b < 0xC2 || b > 0xF4)
        return 0;
    const auto cont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    if (b < 0xE0)
        return avail >= 2 && cont(p[1]) ? 2 : 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b == 0xE0) lo = 0xA0;
    else if (b == 0xED) hi = 0x9F;
    else if (b == 0xF0) lo = 0x90;
    else if (b == 0xF4) hi = 0x8F;
    if (avail < 2 || p[1] < lo || p[1] > hi)
        return 0;
    if (b < 0xF0)
        return avail >= 3 && cont(p[2]) ? 3 : 0;
    return avail >= 4 && cont(p[2]) && cont(p[3]) ? 4 : 0;
}

// True when no byte of [p, p + size) has its high bit set.
inline bool isAscii(const char* p, std::size_t size)
{
    std::uint64_t bits = 0;
    for (; size >= 8; p += 8, size -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        bits |= word;
    }
    for (; size > 0; ++p, --size)
        bits |= static_cast<unsigned char>(*p);
    return (bits & 0x8080808080808080ull) == 0;
}

// isAscii() for at most 16 bytes, when 16 bytes from p on are readable: one
// load instead of a loop over the bytes, for the short columns of a hot loop.
inline bool isAsciiShort(const char* p, std::size_t size)
{
#if defined(__SSE2__)
    const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    return (high & ((std::uint32_t{1} << size) - 1)) == 0;
#else
    return isAscii(p, size);
#endif
}

// The continuation bytes (80..BF) of the 64 at p that `keep` marks, and
// whether each of them follows a lead of two bytes (C2..DF) and each such
// lead within `keep` but the last byte is followed by one. If so, a run of
// those bytes that does not end inside a letter holds as many characters as
// it has bytes less continuation bytes: every other byte is one character,
// valid or not. 64 bytes from p on must be readable.
inline bool secondBytes64(const char* p, std::uint64_t keep, std::uint64_t& second)
{
    std::uint64_t cont = 0, lead2 = 0;
#if defined(__SSE2__)
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto bits = [&](__m128i m) {
            return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(m))} << (16 * i);
        };
        cont |= bits(_mm_cmplt_epi8(v, _mm_set1_epi8(-64))); // 80..BF as signed bytes
        lead2 |= bits(_mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-63)), _mm_cmplt_epi8(v, _mm_set1_epi8(-32))));
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        cont |= std::uint64_t{b >= 0x80 && b <= 0xBF} << i;
        lead2 |= std::uint64_t{b >= 0xC2 && b <= 0xDF} << i;
    }
#endif
    second = cont & keep;
    return (((lead2 << 1) ^ cont) & keep) == 0;
}

// Moves over at most `maxChars` characters of [p, end), which starts on a
// character boundary. Returns the position reached and adds the number of
// characters passed to `taken`.
inline const char* advance(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    return kernels().advance(p, end, maxChars, taken);
}

// Where each of the next pieces of `width` characters of [p, end) ends; see
// Kernels::pieceEnds.
inline std::size_t pieceEnds(const char* p, const char* end, std::size_t width, std::size_t maxPieces,
    const char** ends)
{
    return kernels().pieceEnds(p, end, width, maxPieces, ends);
}

// Number of bytes at the end of [begin, end) that start a sequence which the
// bytes after `end` might still complete. A reader holds these back until it
// knows what follows, so that a character is never cut at a block boundary.
inline std::size_t incompleteTail(const char* begin, const char* end)
{
    const auto* b = reinterpret_cast<const unsigned char*>(begin);
    const auto* e = reinterpret_cast<const unsigned char*>(end);
    for (const unsigned char* q = e; q > b && e - q < 3;) {
        --q;
        if ((*q & 0xC0) == 0x80)
            continue; // continuation byte: look further back
        if (*q < 0xC2 || *q > 0xF4)
            return 0;
        const std::size_t need = *q < 0xE0 ? 2 : *q < 0xF0 ? 3 : 4;
        const auto have = static_cast<std::size_t>(e - q);
        return have < need ? have : 0;
    }
    return 0;
}

// True when the `avail` bytes at p, fewer than their lead byte asks for, could
// still become a valid sequence: every limit of UTF-8 lies in the first two
// bytes, so any further byte only has to be a continuation byte.
inline bool isValidPrefix(const unsigned char* p, std::size_t avail)
{
    if (avail == 1)
        return p[0] >= 0xC2 && p[0] <= 0xF4;
    unsigned char seq[4] = {0, 0x80, 0x80, 0x80};
    std::memcpy(seq, p, avail < 4 ? avail : 3);
    return sequenceLength(seq, 4) > static_cast<int>(avail);
}

// What a stretch of text says about being UTF-8: its valid multi-byte
// sequences, and its bytes that belong to no valid sequence (each counted
// once). A sequence cut by the end of the stretch counts as neither when it
// could still become valid, unless `atRealEnd` says that nothing follows.
struct Tally {
    std::size_t valid = 0;
    std::size_t invalid = 0;
};

inline Tally tally(const char* data, std::size_t size, bool atRealEnd)
{
    Tally t;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const auto left = static_cast<std::size_t>(end - p);
        const int len = sequenceLength(p, left);
        if (len > 0) {
            ++t.valid;
            p += len;
            continue;
        }
        if (!atRealEnd && incompleteTail(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end)) == left
            && isValidPrefix(p, left))
            break;
        ++t.invalid;
        ++p;
    }
    return t;
}

} // namespace fwprep::utf8
