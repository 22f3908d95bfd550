#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "form.h"
#include "input_block.h"
#include "job_runner.h"

namespace fwprep::app {

class MessagePresenter;

// The desktop program: Form1 at start, Form2 from the first "Data File" on,
// each at most once and kept, with its field texts, until the program ends.
// "Yaz" runs its own screen's job on its own screen's fields; while it runs,
// neither screen takes input nor can be closed.
class Screens final : public QObject {
    Q_OBJECT
public:
    // `appFolder` is the folder whose files the jobs read and write.
    Screens(const QString& appFolder, MessagePresenter& presenter, QObject* parent = nullptr);
    ~Screens() override;

    // Creates and shows Form1.
    void start();
    // Cancels the running job, if any, and waits for its end, without a
    // message; the screens take input, and can be closed, again.
    void stopJob();

    Form1* form1() const { return form1_.get(); }
    // Null until the first "Data File".
    Form2* form2() const { return form2_.get(); }
    JobRunner& runner() { return runner_; }

private:
    void showForm2();
    void showForm1();
    void runJob(Form& screen);
    void jobFinished(const JobResult& result);
    void ensureForm1();
    void ensureForm2();

    std::string appFolder_;
    MessagePresenter& presenter_;
    JobRunner runner_;
    InputBlock inputBlock_;
    // The screen whose job is running.
    QPointer<Form> jobScreen_;
    std::unique_ptr<Form1> form1_;
    std::unique_ptr<Form2> form2_;
};

} // namespace fwprep::app
