#pragma once
#include <string>

#include "control.h"
#include "job_error.h"
#include "job_params.h"
#include "job_stats.h"

namespace fwprep {

// A job between two named files. An empty name or "-" stands for standard
// input or standard output. A named output is replaced only when the job has
// completed; on any failure it is left exactly as it was.
struct FileJob {
    std::string input;
    std::string output;
    JobParams params;
};

// `stats`, when given, receives what the job read, wrote and cut.
JobResult runFileJob(const FileJob& job, const JobControl& control = {}, JobStats* stats = nullptr);

} // namespace fwprep
