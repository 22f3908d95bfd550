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

// IoError::error values of failures that have no errno of their own.
constexpr int kInputShrank = -1;       // an input that got shorter while it was being read
constexpr int kDescriptorClosed = -2;  // a standard stream or /dev/fd/N that is not open
constexpr int kBlockDevice = -3;       // an output that is a block device
constexpr int kSocket = -4;            // an output that is a socket
constexpr int kFolderNotWritable = -5; // no temporary file beside a writable output

// The caller asked the running job to stop.
struct Cancelled {};

// The system's words for an errno value, or ours for the values above.
std::string describeError(int error);

} // namespace fwprep
