#include "signals.h"

#include <csignal>

#include "ending_signals.h"
#include "output.h"

namespace fwprep::cli {

namespace {

// Of the signals that end the process, these cancel the job first.
bool cancels(int sig)
{
    return sig == SIGINT || sig == SIGTERM;
}

std::atomic<bool>* g_cancel = nullptr;

// Why the handler removes the temporary file itself rather than cancel the
// job and wait for it to clean up: the job may be blocked where no cancel
// reaches it (a write to a stalled pipe or terminal, fdatasync() on a slow
// disk, a hung network file system), and a hang-up must still end the program.
// Everything called here is async-signal-safe: removeTemporaryFiles() reads
// lock-free flags and fixed buffers and calls unlink(); sigaction() and
// raise() are on the POSIX list. The signal is blocked while its handler
// runs, so the raise() takes effect on return, with the default action: the
// program ends with the signal's own status, as it would have without us.
void endBySignal(int sig)
{
    removeTemporaryFiles();
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
}

extern "C" void onEndSignal(int sig)
{
    endBySignal(sig);
}

extern "C" void onStopSignal(int sig)
{
    if (g_cancel->exchange(true))
        endBySignal(sig);
}

} // namespace

void handleSignals(std::atomic<bool>& cancel)
{
    g_cancel = &cancel;
    struct sigaction action {};
    // While one handler runs, every other of ours waits.
    sigemptyset(&action.sa_mask);
    for (const int sig : kEndingSignals)
        sigaddset(&action.sa_mask, sig);

    const auto install = [&action](int sig, void (*handler)(int)) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            return;
        action.sa_handler = handler;
        ::sigaction(sig, &action, nullptr);
    };
    for (const int sig : kEndingSignals)
        install(sig, cancels(sig) ? onStopSignal : onEndSignal);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

} // namespace fwprep::cli
