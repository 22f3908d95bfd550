#pragma once
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "job_params.h"

namespace fwprep::cli {

// The options of a job, for parsing and for its help: those of both jobs, then
// those of one job only.
const std::vector<OptionSpec>& jobOptions();
bool appliesTo(const OptionSpec& spec, JobKind kind);

// Turns the parsed options into a job's settings; a usage error naming the
// option and its value when one does not fit.
std::optional<std::string> readJobOptions(const Arguments& parsed, JobKind kind, JobParams& params);

} // namespace fwprep::cli
