#pragma once
#include <string_view>

#include "output.h"
#include "text_input.h"

namespace fwprep {

// The join job: every input line is fitted to `width` characters (its first
// `width` characters, with spaces put in front of a shorter line) and every
// `count` fitted lines make one output line. A last, incomplete group is written
// when it holds at least one column; a count of 0 or less, or one above the
// number of lines, puts every column on one line. Each column goes out as soon
// as it is made, so memory does not grow with the group. `prefix` goes before
// the first output line.
void joinLines(TextInput& in, OutputBuffer& out, int count, int width, std::string_view lineEnd,
    std::string_view prefix);

} // namespace fwprep
