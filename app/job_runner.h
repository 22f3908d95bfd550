#pragma once
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "job_setup.h"
#include "progress_dialog.h"

class QWidget;

namespace fwprep::app {

// Runs a screen's job on a worker thread while the event loop goes on. A job
// that is still running after the delay gets an application-modal progress
// dialog whose "İptal" cancels it. `finished` tells the job's end. When the
// program is asked to quit, the running job is cancelled and waited for, so
// that it removes its temporary file before the program ends.
class JobRunner : public QObject {
    Q_OBJECT
public:
    using JobFunction = std::function<JobResult(JobKind, const FieldTexts&, const std::string&, const JobControl&)>;

    explicit JobRunner(QObject* parent = nullptr);
    ~JobRunner() override;

    // Starts the job and returns at once; the progress dialog, if any, belongs
    // to `screen`. One job at a time: while one runs, starts nothing and
    // returns false.
    bool start(JobKind kind, const FieldTexts& fields, const std::string& appFolder, QWidget* screen);
    // Cancels the running job and waits for its end (a fraction of a second),
    // without reporting it: for a program that is ending.
    void stop();

    bool isRunning() const { return running_; }
    // The progress dialog while it is shown, otherwise null.
    ProgressDialog* progressDialog() const { return dialog_; }

    void setProgressDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    // Replaces the core's runScreenJob, for tests that need to hold a job.
    void setJobFunction(JobFunction job) { job_ = std::move(job); }

signals:
    void progressDialogShown();
    // The job has ended: empty when it ran to its end.
    void finished(const fwprep::JobResult& result);

private:
    struct Shared;
    void showProgress();
    void updateProgress();
    void finish();
    void endJob();

    JobFunction job_;
    // Jobs never overlap, so one worker thread, kept for the program's life,
    // runs them all: the memory a thread holds on to is held only once.
    QThreadPool worker_;
    std::chrono::milliseconds delay_{500};
    QTimer showTimer_;
    QTimer progressTimer_;
    // The running job: its watcher, what it shares with the worker thread,
    // and the screen it was started from.
    bool running_ = false;
    QFutureWatcher<JobResult> watcher_;
    std::shared_ptr<Shared> shared_;
    QPointer<QWidget> screen_;
    QPointer<ProgressDialog> dialog_;
};

} // namespace fwprep::app
