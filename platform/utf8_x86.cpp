// The character kernels for x86-64 processors with AVX2 and BMI2 (the code
// is in utf8_x86.h), as the kernel table lists them.

#include "utf8_x86.h"

#if defined(FWPREP_X86_WIDE_LOOPS)

namespace fwprep::utf8::x86 {

namespace {

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt")
#endif

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

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

} // namespace

const Kernels avx2{"avx2", cpu::SimdLevel::Avx2, advance, pieceEnds};
const Kernels avx2NoDeposit{"avx2-no-pdep", cpu::SimdLevel::Avx2, advanceNoDeposit, pieceEndsNoDeposit};

} // namespace fwprep::utf8::x86

#endif // FWPREP_X86_WIDE_LOOPS
