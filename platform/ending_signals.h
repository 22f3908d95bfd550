#pragma once
#include <csignal>

namespace fwprep {

// Every catchable signal whose default action ends the process: the ones a
// program that leaves files behind must clean up on, as careful tools such as
// sort(1) do. Both programs answer the same set.
inline constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2,
    SIGXCPU, SIGVTALRM, SIGPROF, SIGIO};

} // namespace fwprep
