#include "transform.h"

#include <string_view>

#include "join.h"
#include "split.h"

namespace fwprep {

JobStats runTransform(ByteSource& source, OutputSink& sink, const JobParams& params, const JobControl& control,
    std::size_t blockSize, const ThreadPlan& plan)
{
    if (auto stats = runOnThreads(source, sink, params, control, blockSize, plan))
        return *stats;
    TextInput in(source, params.encoding, control, blockSize);
    in.start();

    const auto [lineEnd, prefix] = outputEnds(in, params.lineEnd);

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
    stats.crlf = lineEnd.size() == 2;
    return stats;
}

} // namespace fwprep
