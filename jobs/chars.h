#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "line_scan.h"
#include "output.h"
#include "text_input.h"
#include "utf8.h"

namespace fwprep {

// Moves over at most `maxChars` characters of [p, end), counting them in `taken`.
template <CharMode Mode>
inline const char* takeChars(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    if constexpr (Mode == CharMode::Bytes) {
        const std::size_t n = std::min(maxChars, static_cast<std::size_t>(end - p));
        taken += n;
        return p + n;
    } else {
        return utf8::advance(p, end, maxChars, taken);
    }
}

// How a job's hot loop asks for character positions: through the kernels
// chosen at start. A loop compiled for wider instructions has the kernels'
// code inlined instead (utf8::x86::InlineKernels).
struct CalledKernels {
    static constexpr bool kWide = false; // baseline code: no shortPrefix(), no wide line scan
    static const char* advance(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
    {
        return utf8::advance(p, end, maxChars, taken);
    }
    static std::size_t pieceEnds(const char* p, const char* end, std::size_t width, std::size_t maxPieces,
        const char** ends)
    {
        return utf8::pieceEnds(p, end, width, maxPieces, ends);
    }
    static std::uint64_t equal64(const char* p, char c) { return equalBits64(p, c); }
    template <bool High>
    using CsvScan = CsvChunkScan<High>;
    static FieldMasks fieldMasks64(const char* p, char delimiter, char fill) { return fieldMasks(p, delimiter, fill); }
    static std::uint64_t prefixXor64(std::uint64_t x) { return prefixXor(x); }
    static void move32(char* dst, const char* src) { std::memcpy(dst, src, 32); }
    static bool secondBytes64(const char* p, std::uint64_t keep, std::uint64_t& second)
    {
        return utf8::secondBytes64(p, keep, second);
    }
};

// An output line end (LF or CRLF), padded to two bytes so that it goes out
// with one fixed-size move.
struct LineEndBytes {
    explicit LineEndBytes(std::string_view lineEnd)
        : bytes{lineEnd[0], lineEnd.size() > 1 ? lineEnd[1] : '\0'}
        , size(lineEnd.size())
    {
    }
    // Writes at dst, which must have room for two bytes; returns the end.
    char* writeTo(char* dst) const
    {
        std::memcpy(dst, bytes, sizeof bytes);
        return dst + size;
    }
    void appendTo(OutputBuffer& out) const { out.commit(writeTo(out.reserve(sizeof bytes))); }

    char bytes[2];
    std::size_t size;
};

} // namespace fwprep
