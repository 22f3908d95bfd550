#pragma once
#include <algorithm>
#include <cstddef>

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

} // namespace fwprep
