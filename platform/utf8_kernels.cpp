#include "utf8_kernels.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "utf8.h"

namespace fwprep::utf8 {

namespace portable {

namespace {

const char* advance(const char* p, const char* end, std::size_t maxChars, std::size_t& taken)
{
    std::size_t left = maxChars;
    while (left > 0 && p < end) {
        // Runs of ASCII go eight bytes at a time.
        while (left >= 8 && end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
            left -= 8;
        }
        if (left == 0 || p == end)
            break;
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        const int len = *u < 0x80 ? 1 : sequenceLength(u, static_cast<std::size_t>(end - p));
        p += len == 0 ? 1 : len;
        --left;
    }
    taken += maxChars - left;
    return p;
}

std::size_t pieceEnds(const char* p, const char* end, std::size_t width, std::size_t maxPieces, const char** ends)
{
    std::size_t found = 0;
    do {
        std::size_t taken = 0;
        p = advance(p, end, width, taken);
        ends[found++] = p;
    } while (found < maxPieces && p != end);
    return found;
}

} // namespace

const Kernels kernels{"portable", cpu::SimdLevel::Portable, advance, pieceEnds};

} // namespace portable

std::span<const Kernels* const> availableKernels()
{
    static const auto list = [] {
        std::array<const Kernels*, 3> all{&portable::kernels};
        std::size_t n = 1;
#if defined(__x86_64__)
        const cpu::Features& f = cpu::detected();
        if (f.widest >= cpu::SimdLevel::Avx2) {
            all[n++] = &x86::avx2NoDeposit;
            all[n++] = &x86::avx2;
        }
#endif
        return std::pair{all, n};
    }();
    return {list.first.data(), list.second};
}

constinit const Kernels* inUse = &portable::kernels;

namespace {
// Chooses once, before main(); nothing that runs earlier counts characters,
// and if it did, it would only be slower.
[[maybe_unused]] const bool chosen = (inUse = &chooseKernels(), true);
} // namespace

const Kernels& chooseKernels()
{
#if defined(__x86_64__)
    switch (cpu::simdLevel()) {
    case cpu::SimdLevel::Avx2:
        return cpu::detected().fastBitDeposit ? x86::avx2 : x86::avx2NoDeposit;
    case cpu::SimdLevel::Portable:
        break;
    }
#endif
    return portable::kernels;
}

} // namespace fwprep::utf8
