// The character kernels for x86-64 processors with AVX2 and BMI2 (the code
// is in utf8_x86.h, compiled for those instructions), as the kernel table
// lists them: with PDEP to find the n-th character, and without it for
// processors where it is slow.

#include "utf8_x86.h"

#if defined(FWPREP_X86_WIDE_LOOPS)

namespace fwprep::utf8::x86 {

const Kernels avx2{"avx2", cpu::SimdLevel::Avx2, advanceWith<true>, pieceEndsWith<true>};
const Kernels avx2NoDeposit{"avx2-no-pdep", cpu::SimdLevel::Avx2, advanceWith<false>, pieceEndsWith<false>};

} // namespace fwprep::utf8::x86

#endif // FWPREP_X86_WIDE_LOOPS
