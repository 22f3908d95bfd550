#include "transform.h"

#include <string_view>

#include "join.h"
#include "split.h"

namespace fwprep {

JobStats runTransform(ByteSource& source, OutputSink& sink, const JobParams& params, const JobControl& control,
    std::size_t blockSize, const ThreadPlan& plan)
{
    if (auto stats = splitOnThreads(source, sink, params, control, blockSize, plan))
        return *stats;
    TextInput in(source, params.encoding, control, blockSize);
    in.start();

    bool crlf = in.firstLineEnd() == LineEnd::CrLf;
    if (params.lineEnd != LineEndChoice::Auto)
        crlf = params.lineEnd == LineEndChoice::CrLf;
    const std::string_view lineEnd = crlf ? "\r\n" : "\n";
    const std::string_view prefix = in.hasByteOrderMark() ? "\xEF\xBB\xBF" : "";

    JobStats stats;
    OutputBuffer out(sink, blockSize);
    try {
        if (params.kind == JobKind::Split)
            splitLines(in, out, params, lineEnd, prefix, stats);
        else
            joinLines(in, out, params, lineEnd, prefix, stats);
    } catch (const DataError&) {
        out.flush(); // what was made before the failure goes out, as it would on standard output
        throw;
    }
    out.flush();
    stats.mode = in.charMode();
    stats.modeDetected = in.modeDetected();
    stats.asciiOnly = in.modeDetected() && !in.modeSettled();
    stats.byteOrderMark = in.hasByteOrderMark();
    stats.crlf = crlf;
    return stats;
}

} // namespace fwprep
