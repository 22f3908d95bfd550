#pragma once
#include <string>

#include "job_error.h"
#include "job_params.h"
#include "job_stats.h"

namespace fwprep::cli {

// One line of English for a failed job, without the program's prefix.
std::string describe(const JobError& error);

// What a job cut or left out, in words; empty when nothing.
std::string describeLoss(JobKind kind, const JobStats& stats);
// The summary of a run: lines read and written, encoding, line end, loss.
std::string describeRun(JobKind kind, const JobStats& stats);

} // namespace fwprep::cli
