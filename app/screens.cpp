#include "screens.h"

#include <QFile>
#include <QPushButton>

#include "presenter.h"

namespace fwprep::app {

Screens::Screens(const QString& appFolder, MessagePresenter& presenter, QObject* parent)
    : QObject(parent)
    , appFolder_(QFile::encodeName(appFolder).toStdString())
    , presenter_(presenter)
{
    connect(&runner_, &JobRunner::finished, this, &Screens::jobFinished);
}

Screens::~Screens()
{
    // The job must not outlive the screens it reports to.
    runner_.stop();
}

void Screens::start()
{
    ensureForm1();
    form1_->show();
}

void Screens::stopJob()
{
    runner_.stop();
    inputBlock_.unblock();
    jobScreen_ = nullptr;
}

void Screens::ensureForm1()
{
    if (form1_)
        return;
    form1_ = std::make_unique<Form1>();
    connect(form1_->jobButton(), &QPushButton::clicked, this, [this] { runJob(*form1_); });
    connect(form1_->switchButton(), &QPushButton::clicked, this, &Screens::showForm2);
}

void Screens::ensureForm2()
{
    if (form2_)
        return;
    form2_ = std::make_unique<Form2>();
    connect(form2_->jobButton(), &QPushButton::clicked, this, [this] { runJob(*form2_); });
    connect(form2_->switchButton(), &QPushButton::clicked, this, &Screens::showForm1);
}

// "Data File": hide Form1 first, then show Form2.
void Screens::showForm2()
{
    ensureForm1();
    form1_->hide();
    ensureForm2();
    form2_->show();
}

// "Return": show Form1 first, then hide Form2.
void Screens::showForm1()
{
    ensureForm1();
    form1_->show();
    ensureForm2();
    form2_->hide();
}

void Screens::runJob(Form& screen)
{
    // Input is blocked while a job runs; a click made by a program is not.
    if (!runner_.start(screen.job(), screen.fields(), appFolder_, &screen))
        return;
    jobScreen_ = &screen;
    inputBlock_.block({form1_.get(), form2_.get()});
}

void Screens::jobFinished(const JobResult& result)
{
    inputBlock_.unblock();
    Form* screen = jobScreen_;
    jobScreen_ = nullptr;
    if (!result || !screen)
        return;
    if (const auto message = messageFor(screen->job(), *result))
        presenter_.present(screen, *message);
}

} // namespace fwprep::app
