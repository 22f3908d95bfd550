#pragma once
#include <cstdint>
#include <string_view>

#include "job_params.h"
#include "job_stats.h"
#include "output.h"
#include "text_input.h"

namespace fwprep {

// The join job. From lines: every input line is a value, fitted to its column
// (its first `width(i)` characters, with the column's fill put in front of or
// after a shorter one), and the columns of a record make one output line; a
// last, incomplete record is written when it holds at least one column; a
// count of 0 or less, or one above the number of lines, puts every column on
// one line. From CSV: every record is an output line, its i-th field fitted
// to the i-th column; missing fields give columns of fill, fields beyond the
// last column are left out. A value longer than its column counts as cut.
// Each column goes out as soon as it is made, so memory does not grow with the
// record. `prefix` goes before the first output line. Malformed CSV throws
// DataError.
void joinLines(TextInput& in, OutputBuffer& out, const JobParams& params, std::string_view lineEnd,
    std::string_view prefix, JobStats& stats);

// The output lines a join of `lines` lines into records of `groupSize` values
// writes: whole records and the incomplete one; one line of every value with
// a group size of 0.
constexpr std::uint64_t joinedLines(std::uint64_t lines, std::uint64_t groupSize)
{
    return groupSize == 0 ? (lines > 0 ? 1 : 0) : (lines + groupSize - 1) / groupSize;
}

} // namespace fwprep
