#pragma once
// Which instruction set the character kernels use. The processor is asked once
// per process; the environment variable FWPREP_SIMD can hold the choice down
// (to test the portable code on any machine, or to rule out a wide path):
//   FWPREP_SIMD=portable   plain C++ only
//   FWPREP_SIMD=avx2       at most AVX2 + BMI2 + PCLMULQDQ (the widest there is: no limit)
// Any other value means portable.

#include <optional>

#if defined(__x86_64__) && defined(__GNUC__)
// Loops may be compiled for AVX2, BMI2 and PCLMULQDQ beside the baseline ones, and run
// where the processor has them (utf8::x86::useWideLoops()).
#define FWPREP_X86_WIDE_LOOPS 1
// A loop entry compiled for these instructions: everything it calls inline is
// compiled the same way (flatten), so that code made for them goes in.
#define FWPREP_X86_WIDE_LOOP [[gnu::target("avx2,bmi,bmi2,popcnt,pclmul"), gnu::flatten]]
#endif

namespace fwprep::cpu {

enum class SimdLevel {
    Portable, // any processor
    Avx2,     // x86-64 with AVX2, BMI1, BMI2, POPCNT, PCLMULQDQ (every processor with AVX2 has it)
};

struct Features {
    SimdLevel widest = SimdLevel::Portable;
    // PDEP/PEXT take one cycle or a few; false on AMD processors before
    // Zen 3, where they are microcoded and take up to hundreds of cycles.
    bool fastBitDeposit = false;
};

// What this processor offers, whatever the environment says.
const Features& detected();

// The level in use: the widest one detected, held down by FWPREP_SIMD.
SimdLevel simdLevel();

// The level an FWPREP_SIMD value allows; nullopt when the variable is not set
// (or empty): no limit.
std::optional<SimdLevel> parseSimdLimit(const char* value);

} // namespace fwprep::cpu
