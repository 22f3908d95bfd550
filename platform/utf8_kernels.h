#pragma once
// Character kernels over UTF-8 text, in one portable implementation and in
// wider ones for processors that have the instructions; one is chosen per
// process (cpu.h). Every implementation gives exactly the same answers as the
// portable one, invalid bytes included (see utf8.h for what a character is).

#include <cstddef>
#include <span>

#include "cpu.h"

namespace fwprep::utf8 {

struct Kernels {
    const char* name;
    cpu::SimdLevel level;
    // Moves over at most `maxChars` characters of [p, end), which starts on a
    // character boundary. Returns the position reached and adds the number of
    // characters passed to `taken`.
    const char* (*advance)(const char* p, const char* end, std::size_t maxChars, std::size_t& taken);
    // Cuts [p, end), which starts on a character boundary, into consecutive
    // pieces of `width` (> 0) characters: writes where each piece ends to
    // ends[0], ends[1], ..., at most `maxPieces` (> 0) of them, and returns how
    // many it wrote. It stops early only when the text runs out: the last end
    // written is then `end` (that piece may be short), and every further piece
    // would be empty.
    std::size_t (*pieceEnds)(const char* p, const char* end, std::size_t width, std::size_t maxPieces,
        const char** ends);
};

// Every implementation this processor can run, the portable one first.
std::span<const Kernels* const> availableKernels();

// The widest implementation that cpu::simdLevel() allows.
const Kernels& chooseKernels();

namespace portable {
extern const Kernels kernels;
}

// The implementation in use: chooseKernels(), settled while the program
// starts (the portable one until then, which gives the same answers).
extern const Kernels* inUse;
inline const Kernels& kernels()
{
    return *inUse;
}

#if defined(__x86_64__)
namespace x86 {
extern const Kernels avx2;          // AVX2 masks, BMI2 PDEP to find the n-th character
extern const Kernels avx2NoDeposit; // the same without PDEP, for processors where it is slow
} // namespace x86
#endif

} // namespace fwprep::utf8
