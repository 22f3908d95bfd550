#pragma once
#include <string>

#include "job_error.h"

namespace fwprep::cli {

// One line of English for a failed job, without the program's prefix.
std::string describe(const JobError& error);

} // namespace fwprep::cli
