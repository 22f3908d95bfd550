#pragma once
#include <string_view>

#include "output.h"
#include "text_input.h"

namespace fwprep {

// The split job: every input line becomes `count` output lines, piece i holding
// characters i*width+1 .. i*width+width of the line (fewer where the line ends
// first, empty past its end). Characters past count*width are dropped. A count
// of 0 or less writes nothing. `prefix` goes before the first output line.
void splitLines(TextInput& in, OutputBuffer& out, int count, int width, std::string_view lineEnd,
    std::string_view prefix);

} // namespace fwprep
