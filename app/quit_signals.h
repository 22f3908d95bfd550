#pragma once
#include <QObject>
#include <csignal>
#include <vector>

class QSocketNotifier;

namespace fwprep::app {

// Brings the signals that would end the program (a logout's or shutdown's
// SIGTERM, a closed terminal's SIGHUP, Ctrl+C, ...) into the event loop, so
// that a running job is cancelled and removes its temporary file before the
// program ends. One at a time in a process; the previous dispositions come
// back when it is destroyed.
class QuitSignals final : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // The first signal received, 0 if none.
    int received() const { return received_; }

    // Ends the process as `signal` would have, for a program that has done
    // its cleaning up: the caller sees the status it would have seen.
    [[noreturn]] static void endWith(int signal);

signals:
    // Emitted in the event loop, once for each signal.
    void arrived(int signal);

private:
    void readSignals();

    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    std::vector<std::pair<int, struct sigaction>> previous_;
    int received_ = 0;
};

} // namespace fwprep::app
