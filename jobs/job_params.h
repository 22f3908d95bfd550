#pragma once
#include <string_view>
#include <vector>

#include "text_input.h"

namespace fwprep {

enum class JobKind { Split, Join };

enum class LineEndChoice {
    Auto, // CRLF when the input's first line end is CRLF, otherwise LF
    Lf,
    CrLf,
};

// Where a column's text stands: at its right end (fill in front) or its left.
enum class Align { Right, Left };

// How records are written (split) or read (join): one value per line, or CSV
// (RFC 4180), one record per line.
enum class RecordFormat { Lines, Csv };

struct Column {
    int width = 0; // characters; never negative here
    Align align = Align::Right;
    char fill = ' ';
    bool operator==(const Column&) const = default;
};

// What an output's lines end with and what goes before the first: from the
// input's first line end (unless the choice says otherwise) and its byte-order
// mark.
struct OutputEnds {
    std::string_view lineEnd;
    std::string_view prefix;
};
inline OutputEnds outputEnds(const TextInput& in, LineEndChoice choice)
{
    bool crlf = in.firstLineEnd() == LineEnd::CrLf;
    if (choice != LineEndChoice::Auto)
        crlf = choice == LineEndChoice::CrLf;
    return {crlf ? "\r\n" : "\n", in.hasByteOrderMark() ? "\xEF\xBB\xBF" : ""};
}

struct JobParams {
    JobKind kind = JobKind::Split;
    int count = 0; // n: pieces per line (split), columns per output line (join)
    int width = 0; // k: characters per piece or column; never negative here
    Encoding encoding = Encoding::Auto;
    LineEndChoice lineEnd = LineEndChoice::Auto;
    // A layout: when not empty, every record has exactly these columns, and
    // `count`, `width`, `align` and `fill` are not used.
    std::vector<Column> layout{};
    // How the `width` columns are aligned and filled when there is no layout.
    Align align = Align::Right;
    char fill = ' ';
    bool trim = false; // split: each piece loses the fill that a join would have put in
    RecordFormat format = RecordFormat::Lines; // split: what is written; join: what is read
    char delimiter = ',';                      // of CSV fields
    bool header = false; // join from CSV: the first record names the fields and is not joined
    bool strict = false; // the first value cut or left out fails the job
};

} // namespace fwprep
