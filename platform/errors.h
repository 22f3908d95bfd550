#pragma once
#include <stdexcept>
#include <string>

namespace fwprep {

// A failed system call on one of the job's files. Thrown inside the core and
// turned into a JobError value before it reaches a front end.
struct IoError {
    enum class Side { Input, Output };
    Side side;
    std::string path;
    int error; // errno
};

// IoError::error of an input that got shorter while it was being read.
constexpr int kInputShrank = -1;

// The caller asked the running job to stop.
struct Cancelled {};

// The system's words for an errno value (or kInputShrank).
std::string describeError(int error);

} // namespace fwprep
