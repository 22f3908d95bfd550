#include "quit_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ending_signals.h"

namespace fwprep::app {

namespace {

// The writing end of the socket pair, for the handler.
volatile sig_atomic_t g_writeFd = -1;

extern "C" void onQuitSignal(int signal)
{
    // Only async-signal-safe calls here: write() on a non-blocking socket
    // (a full socket drops the byte; a signal is already waiting then), and
    // errno kept for the code that was interrupted.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0)
        return; // no bridge: the signals keep their default actions
    g_writeFd = fds_[0];
    notifier_ = new QSocketNotifier(fds_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::readSignals);

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kEndingSignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) != 0)
            continue;
        // A signal ignored by whoever started us (nohup's SIGHUP) stays ignored.
        if (old.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(signal, &action, nullptr) == 0)
            previous_.emplace_back(signal, old);
    }
}

QuitSignals::~QuitSignals()
{
    for (const auto& [signal, old] : previous_)
        ::sigaction(signal, &old, nullptr);
    g_writeFd = -1;
    delete notifier_;
    for (const int fd : fds_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void QuitSignals::readSignals()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(fds_[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (received_ == 0)
                received_ = bytes[i];
            emit arrived(bytes[i]);
        }
    }
}

void QuitSignals::endWith(int signal)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    // Only a signal the system will not let us die of gets here.
    std::_Exit(128 + signal);
}

} // namespace fwprep::app
