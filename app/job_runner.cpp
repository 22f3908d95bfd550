#include "job_runner.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <memory>

#include "progress_dialog.h"

namespace fwprep::app {

namespace {

constexpr std::chrono::milliseconds kProgressInterval{50};

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

} // namespace

JobRunner::JobRunner(QObject* parent)
    : QObject(parent)
    , job_([](JobKind kind, const FieldTexts& fields, const std::string& folder, const JobControl& control) {
        return runScreenJob(kind, fields, folder, control);
    })
{
    worker_.setMaxThreadCount(1);
    worker_.setExpiryTimeout(-1);
}

JobRunner::~JobRunner() = default;

JobResult JobRunner::run(JobKind kind, const FieldTexts& fields, const std::string& appFolder, QWidget* screen)
{
    if (running_)
        return JobError{JobError::Kind::Cancelled};
    running_ = true;

    // Shared with the worker; this frame outlives it, since it waits for the job's end.
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    JobControl control;
    control.cancel = &cancel;
    control.progress = [&done, &total](std::uint64_t d, std::uint64_t t) {
        total.store(t, std::memory_order_relaxed);
        done.store(d, std::memory_order_relaxed);
    };

    QEventLoop loop;
    // Made only for a job that outlasts the delay.
    std::unique_ptr<ProgressDialog> dialog;
    QTimer showTimer;
    showTimer.setSingleShot(true);
    showTimer.setTimerType(Qt::PreciseTimer);
    QTimer progressTimer;
    const auto updateProgress = [&] {
        dialog->setProgress(done.load(std::memory_order_relaxed), total.load(std::memory_order_relaxed));
    };
    connect(&progressTimer, &QTimer::timeout, this, updateProgress);
    connect(&showTimer, &QTimer::timeout, this, [&] {
        dialog = std::make_unique<ProgressDialog>(screen);
        connect(dialog.get(), &ProgressDialog::cancelRequested, this, [&cancel] { cancel.store(true); });
        updateProgress();
        dialog_ = dialog.get();
        dialog->show();
        progressTimer.start(kProgressInterval);
        emit progressDialogShown();
    });

    qApp->installEventFilter(this);
    QFutureWatcher<JobResult> watcher;
    connect(&watcher, &QFutureWatcher<JobResult>::finished, &loop, &QEventLoop::quit);
    const JobFunction job = job_;
    watcher.setFuture(QtConcurrent::run(&worker_, [job, kind, fields, appFolder, control] {
        return job(kind, fields, appFolder, control);
    }));
    showTimer.start(delay_);
    loop.exec();
    watcher.waitForFinished();
    qApp->removeEventFilter(this);

    progressTimer.stop();
    showTimer.stop();
    dialog_ = nullptr;
    dialog.reset();
    running_ = false;
    return watcher.result();
}

bool JobRunner::belongsToDialog(QObject* object) const
{
    if (!dialog_)
        return false;
    if (auto* widget = qobject_cast<QWidget*>(object))
        return widget->window() == dialog_;
    if (auto* window = qobject_cast<QWindow*>(object))
        return window == dialog_->windowHandle();
    return false;
}

bool JobRunner::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->isWindow() && !belongsToDialog(widget)) {
            event->ignore();
            return true;
        }
        return false;
    }
    if (isUserInput(event->type()) && !belongsToDialog(watched))
        return true;
    return QObject::eventFilter(watched, event);
}

} // namespace fwprep::app
