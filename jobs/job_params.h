#pragma once
#include "text_input.h"

namespace fwprep {

enum class JobKind { Split, Join };

enum class LineEndChoice {
    Auto, // CRLF when the input's first line end is CRLF, otherwise LF
    Lf,
    CrLf,
};

struct JobParams {
    JobKind kind = JobKind::Split;
    int count = 0; // n: pieces per line (split), columns per output line (join)
    int width = 0; // k: characters per piece or column; never negative here
    Encoding encoding = Encoding::Auto;
    LineEndChoice lineEnd = LineEndChoice::Auto;
};

} // namespace fwprep
