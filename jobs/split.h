#pragma once
#include <string_view>

#include "job_params.h"
#include "job_stats.h"
#include "output.h"
#include "text_input.h"

namespace fwprep {

// The split job: every input line is cut into the pieces of its columns, piece
// i holding the next `width(i)` characters of the line (fewer where the line
// ends first, empty past its end). Characters past the last column are not
// written: each such line counts as cut. As lines, every piece becomes an
// output line; as CSV, the pieces of a line become the fields of one record.
// With `trim`, a piece loses the fill a join would have put in. No columns
// (a count of 0 or less) writes nothing. `prefix` goes before the first output.
void splitLines(TextInput& in, OutputBuffer& out, const JobParams& params, std::string_view lineEnd,
    std::string_view prefix, JobStats& stats);

} // namespace fwprep
