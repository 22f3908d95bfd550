#pragma once
#include <cstddef>
#include <optional>

#include "byte_source.h"
#include "control.h"
#include "job_params.h"
#include "job_stats.h"
#include "output.h"

namespace fwprep {

// How a job may share its work among threads: FWPREP_THREADS (1: one
// thread; at most 64) and FWPREP_CHUNK (bytes a thread takes at a time, at
// most 16 MiB; inputs of two chunks or more then qualify whatever their
// lines, which tests use to reach every chunk edge).
struct ThreadPlan {
    unsigned threads = 1;
    std::size_t chunk = std::size_t{1} << 20;
    std::uint64_t minInput = std::uint64_t{8} << 20; // smaller inputs stay on one thread
    // Inputs whose first chunk has lines longer than this on average stay on
    // one thread: such lines cost little but their reading, and one thread
    // reads as fast as two. 0: no such rule.
    std::uint64_t longLine = 4096;

    // Two threads taking `chunk` bytes at a time, on any input of two chunks
    // whatever its lines (tests: chunk edges everywhere); 0 bytes: one thread.
    static ThreadPlan chunked(std::size_t chunk)
    {
        ThreadPlan plan;
        plan.threads = chunk > 0 ? 2 : 1;
        plan.chunk = chunk > 0 ? chunk : 1;
        plan.minInput = 2 * plan.chunk;
        plan.longLine = 0;
        return plan;
    }
};
ThreadPlan threadPlanFromEnvironment();

// Runs a split, a join from CSV or a join of lines whose columns are all
// alike, of a large seekable input on several threads: each takes the lines
// that begin in its next chunk of the input, and the chunks' output goes out
// in their order, so that it is byte for byte what one thread would write; so
// are the counts, the first cut's line and the strict rule's failure. The
// threads read with readAt() only. Returns nothing, having read through
// readAt() alone and written nothing, for a job that stays on one thread: a
// join of lines with columns of their own, a split without columns, an input
// that is not positional() or too small, a caller that follows progress, or a
// plan of one thread. Throws as runTransform() does.
std::optional<JobStats> runOnThreads(ByteSource& source, OutputSink& sink, const JobParams& params,
    const JobControl& control, std::size_t blockSize, const ThreadPlan& plan = threadPlanFromEnvironment());

} // namespace fwprep
