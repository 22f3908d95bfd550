#pragma once
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <chrono>
#include <functional>
#include <string>

#include "job_setup.h"
#include "progress_dialog.h"

class QWidget;

namespace fwprep::app {



// Runs a screen's job on a worker thread and waits for it with the GUI still
// painting. Until the job ends no mouse or key input reaches any window but
// the progress dialog, and no window can be closed. A job that is still
// running after the delay gets an application-modal progress dialog whose
// "İptal" cancels it.
class JobRunner : public QObject {
    Q_OBJECT
public:
    using JobFunction = std::function<JobResult(JobKind, const FieldTexts&, const std::string&, const JobControl&)>;

    explicit JobRunner(QObject* parent = nullptr);
    ~JobRunner() override;

    // Returns when the job has ended; runs at most one job at a time (a
    // second call while one runs is refused as cancelled).
    JobResult run(JobKind kind, const FieldTexts& fields, const std::string& appFolder, QWidget* screen);

    bool isRunning() const { return running_; }
    // The progress dialog while it is shown, otherwise null.
    ProgressDialog* progressDialog() const { return dialog_; }

    void setProgressDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    // Replaces the core's runScreenJob, for tests that need to hold a job.
    void setJobFunction(JobFunction job) { job_ = std::move(job); }

signals:
    void progressDialogShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool belongsToDialog(QObject* object) const;

    JobFunction job_;
    // Jobs never overlap, so one worker thread, kept for the program's life,
    // runs them all: the memory a thread holds on to is held only once.
    QThreadPool worker_;
    std::chrono::milliseconds delay_{500};
    bool running_ = false;
    QPointer<ProgressDialog> dialog_;
};

} // namespace fwprep::app
