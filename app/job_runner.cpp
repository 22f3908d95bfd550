#include "job_runner.h"

#include <QCoreApplication>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>

namespace fwprep::app {

namespace {
constexpr std::chrono::milliseconds kProgressInterval{50};
}

// Written by the worker thread, read by the GUI thread; held by both, so that
// neither outlives it.
struct JobRunner::Shared {
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
};

JobRunner::JobRunner(QObject* parent)
    : QObject(parent)
    , job_([](JobKind kind, const FieldTexts& fields, const std::string& folder, const JobControl& control) {
        return runScreenJob(kind, fields, folder, control);
    })
{
    worker_.setMaxThreadCount(1);
    worker_.setExpiryTimeout(-1);
    showTimer_.setSingleShot(true);
    showTimer_.setTimerType(Qt::PreciseTimer);
    connect(&showTimer_, &QTimer::timeout, this, &JobRunner::showProgress);
    connect(&progressTimer_, &QTimer::timeout, this, &JobRunner::updateProgress);
    connect(&watcher_, &QFutureWatcher<JobResult>::finished, this, &JobRunner::finish);
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &JobRunner::stop);
}

JobRunner::~JobRunner()
{
    stop();
}

bool JobRunner::start(JobKind kind, const FieldTexts& fields, const std::string& appFolder, QWidget* screen)
{
    if (isRunning())
        return false;
    shared_ = std::make_shared<Shared>();
    screen_ = screen;

    JobControl control;
    control.cancel = &shared_->cancel;
    // The worker holds `shared_` through this function, whatever the runner does meanwhile.
    control.progress = [shared = shared_](std::uint64_t done, std::uint64_t total) {
        shared->total.store(total, std::memory_order_relaxed);
        shared->done.store(done, std::memory_order_relaxed);
    };
    running_ = true;
    watcher_.setFuture(QtConcurrent::run(&worker_,
        [job = job_, kind, fields, appFolder, control] { return job(kind, fields, appFolder, control); }));
    showTimer_.start(delay_);
    return true;
}

void JobRunner::showProgress()
{
    dialog_ = new ProgressDialog(screen_);
    connect(dialog_, &ProgressDialog::cancelRequested, this,
        [shared = shared_] { shared->cancel.store(true); });
    updateProgress();
    dialog_->show();
    progressTimer_.start(kProgressInterval);
    emit progressDialogShown();
}

void JobRunner::updateProgress()
{
    if (dialog_ && shared_)
        dialog_->setProgress(shared_->done.load(std::memory_order_relaxed), shared_->total.load(std::memory_order_relaxed));
}

void JobRunner::finish()
{
    // The news of a job that stop() has dealt with already may come late,
    // even while the next job runs.
    if (!running_ || !watcher_.isFinished())
        return;
    const JobResult result = watcher_.result();
    endJob();
    emit finished(result);
}

void JobRunner::stop()
{
    if (!running_)
        return;
    shared_->cancel.store(true);
    watcher_.waitForFinished();
    endJob();
}

void JobRunner::endJob()
{
    showTimer_.stop();
    progressTimer_.stop();
    delete dialog_;
    running_ = false;
    shared_.reset();
    screen_ = nullptr;
}

} // namespace fwprep::app
