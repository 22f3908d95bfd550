#pragma once
#include <string>

#include "control.h"
#include "job_error.h"
#include "job_params.h"

namespace fwprep {

// The texts of a screen's three fields, as typed (UTF-8).
struct FieldTexts {
    std::string count; // Text1
    std::string width; // Text2
    std::string name;  // Text3: base name of the input file, without ".txt"
};

// "test1.txt" for the split job, "data.txt" for the join job.
const char* outputFileName(JobKind kind);

// The input file that a name field points at: the application folder, the
// name as typed (a backslash separates folders like a slash), then ".txt".
std::string inputPathFor(const std::string& appFolder, const std::string& name);
std::string outputPathFor(const std::string& appFolder, JobKind kind);

// Runs a job from a screen's fields: checks the fields, converts the numbers,
// opens the input beside the program and writes the job's fixed output file
// there. Every refusal comes before anything is created or changed.
JobResult runScreenJob(JobKind kind, const FieldTexts& fields, const std::string& appFolder,
    const JobControl& control = {});

} // namespace fwprep
