#include "cpu.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace fwprep::cpu {

namespace {

Features detect()
{
    Features f;
#if defined(__x86_64__)
    // __builtin_cpu_supports also checks that the system saves the wide
    // registers (XCR0), not just that the processor has them.
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi")
        && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("pclmul");
    f.widest = avx2 ? SimdLevel::Avx2 : SimdLevel::Portable;

    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    f.fastBitDeposit = true;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        char vendor[13] = {};
        std::memcpy(vendor, &ebx, 4);
        std::memcpy(vendor + 4, &edx, 4);
        std::memcpy(vendor + 8, &ecx, 4);
        if ((std::strcmp(vendor, "AuthenticAMD") == 0 || std::strcmp(vendor, "HygonGenuine") == 0)
            && __get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
            unsigned family = (eax >> 8) & 0xF;
            if (family == 0xF)
                family += (eax >> 20) & 0xFF;
            f.fastBitDeposit = family >= 0x19; // Zen 3 and later
        }
    }
#endif
    return f;
}

} // namespace

const Features& detected()
{
    static const Features features = detect();
    return features;
}

std::optional<SimdLevel> parseSimdLimit(const char* value)
{
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    const std::string_view v(value);
    if (v == "avx2")
        return SimdLevel::Avx2;
    return SimdLevel::Portable; // "portable", and anything not understood
}

SimdLevel simdLevel()
{
    static const SimdLevel level = [] {
        const SimdLevel widest = detected().widest;
        const std::optional<SimdLevel> limit = parseSimdLimit(std::getenv("FWPREP_SIMD"));
        return limit ? std::min(widest, *limit) : widest;
    }();
    return level;
}

} // namespace fwprep::cpu
