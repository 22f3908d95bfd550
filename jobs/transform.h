#pragma once
#include "byte_source.h"
#include "control.h"
#include "job_params.h"
#include "output.h"

namespace fwprep {

// Runs one job from `source` to `sink`: settles the encoding, the byte-order
// mark and the output line end, then runs the split or join loop.
// `params.width` must not be negative. Throws IoError and Cancelled.
void runTransform(ByteSource& source, OutputSink& sink, const JobParams& params, const JobControl& control,
    std::size_t blockSize = TextInput::kDefaultBlock);

} // namespace fwprep
