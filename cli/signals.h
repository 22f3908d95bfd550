#pragma once
#include <atomic>

namespace fwprep::cli {

// Sets up how fwprep-cli answers signals while a job runs:
// - SIGINT and SIGTERM set `cancel`: the job stops, cleans up and the program
//   exits with status 1; a second one ends the program at once (a write to a
//   stalled pipe may never return), its temporary file removed first;
// - every other signal that would end the program removes the temporary file
//   and then ends the program as the signal would have;
// - SIGXFSZ is ignored, so that a file-size limit makes the write fail
//   (EFBIG) and the job report it.
// A signal that was ignored when the program started stays ignored (nohup).
void handleSignals(std::atomic<bool>& cancel);

} // namespace fwprep::cli
