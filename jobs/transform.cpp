#include "transform.h"

#include <string_view>

#include "join.h"
#include "split.h"

namespace fwprep {

void runTransform(ByteSource& source, OutputSink& sink, const JobParams& params, const JobControl& control,
    std::size_t blockSize)
{
    TextInput in(source, params.encoding, control, blockSize);
    in.start();

    bool crlf = in.firstLineEnd() == LineEnd::CrLf;
    if (params.lineEnd != LineEndChoice::Auto)
        crlf = params.lineEnd == LineEndChoice::CrLf;
    const std::string_view lineEnd = crlf ? "\r\n" : "\n";
    const std::string_view prefix = in.hasByteOrderMark() ? "\xEF\xBB\xBF" : "";

    OutputBuffer out(sink, blockSize);
    if (params.kind == JobKind::Split)
        splitLines(in, out, params.count, params.width, lineEnd, prefix);
    else
        joinLines(in, out, params.count, params.width, lineEnd, prefix);
    out.flush();
}

} // namespace fwprep
