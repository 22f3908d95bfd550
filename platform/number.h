#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace fwprep {

// Converts a field text to a 16-bit signed integer: spaces and tabs around the
// number are ignored, an optional + or - may precede ASCII decimal digits, and
// the value must lie in -32768..32767. Anything else gives no value.
std::optional<std::int16_t> parseInt16(std::string_view text);

} // namespace fwprep
