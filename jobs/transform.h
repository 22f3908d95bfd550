#pragma once
#include "byte_source.h"
#include "control.h"
#include "job_params.h"
#include "job_stats.h"
#include "output.h"
#include "threads.h"

namespace fwprep {

// Runs one job from `source` to `sink`: settles the encoding, the byte-order
// mark and the output line end, then runs the split or join loop. Returns what
// was read, written and cut. `params.width` and the layout's widths must not
// be negative. A large job may run on threads (see runOnThreads()).
// Throws IoError, Cancelled and DataError.
JobStats runTransform(ByteSource& source, OutputSink& sink, const JobParams& params, const JobControl& control,
    std::size_t blockSize = TextInput::kDefaultBlock, const ThreadPlan& plan = threadPlanFromEnvironment());

} // namespace fwprep
